// The XSVF command handlers: each reads its operands and acts on the record.
#pragma once

#include <cstdint>

#include "XsvfPlayer.h"

// Number of XSDRSIZE commands of exactly BLOCK_SHIFT_BITS bits so far.
extern std::int16_t fpgaBlockCount;

int handleXTDOMASK(SXsvfInfo& info);
int handleXSIR(SXsvfInfo& info);
int handleXSDR(SXsvfInfo& info);
int handleXRUNTEST(SXsvfInfo& info);
int handleXREPEAT(SXsvfInfo& info);
int handleXSDRSIZE(SXsvfInfo& info);
int handleXSDRTDO(SXsvfInfo& info);
int handleXSETSDRMASKS(SXsvfInfo& info);
int handleXSDRINC(SXsvfInfo& info);
int handleXSDRBCE(SXsvfInfo& info);
int handleXSDRTDOBCE(SXsvfInfo& info);
int handleXSTATE(SXsvfInfo& info);
int handleEndState(SXsvfInfo& info);
int handleXSIR2(SXsvfInfo& info);
int handleXCOMMENT(SXsvfInfo& info);
int handleXWAIT(SXsvfInfo& info);
