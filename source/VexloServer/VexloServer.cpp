#include "VexloServer.h"

#include <cstdlib>

VexloServer::VexloServer(CartridgeLink* l, Uploader* u) : link(l), uploader(u) {}
void VexloServer::Serve(const char*) { std::abort(); }
void VexloServer::Handle(std::uint8_t) {}
