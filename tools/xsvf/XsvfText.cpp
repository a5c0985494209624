#include "XsvfText.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "XsvfFormat.h"

namespace {

// A command's operands; codes without a command have none.
const XsvfLayout& layoutOf(std::uint8_t code) {
    static constexpr XsvfLayout none{};
    return code < XSVF_COMMAND_COUNT ? xsvfCommandLayouts[code] : none;
}

// What the player has been told so far that decides how long later operands are.
struct LengthState {
    std::uint64_t sdrBytes = 0;      // vectors after XSDRSIZE
    std::uint64_t dataMaskOnes = 0;  // bits an XSDRINC piece carries
};

std::uint64_t bytesForBits(std::uint64_t bits) { return (bits + 7) / 8; }

unsigned popcount(const std::uint8_t* bytes, std::size_t count) {
    unsigned ones = 0;
    for (std::size_t i = 0; i < count; ++i) {
        for (std::uint8_t b = bytes[i]; b != 0; b &= static_cast<std::uint8_t>(b - 1)) {
            ++ones;
        }
    }
    return ones;
}

// ---------------------------------------------------------------- decoding

enum class Kind { Number, Vector, Text };

struct Operand {
    Kind kind;
    std::uint32_t value;  // numbers
    std::size_t offset;   // vectors and texts: where their bytes start
    std::size_t length;   // their byte count (a text's without its 0 byte)
};

struct Decoded {
    XsvfCommandSpan span;
    std::vector<Operand> operands;
};

class Decoder {
public:
    explicit Decoder(const std::vector<std::uint8_t>& bytes) : b_(bytes) {}

    bool atEnd() const { return pos_ >= b_.size(); }

    // Reads the next command; operands is reused between calls.
    void next(Decoded& out) {
        out.operands.clear();
        out.span = XsvfCommandSpan{};
        out.span.offset = pos_;
        out.span.code = b_[pos_++];
        truncated_ = false;
        readOperands(out);
        out.span.truncated = truncated_;
        out.span.size = pos_ - out.span.offset;
    }

private:
    bool number(Decoded& out, unsigned width) {
        if (b_.size() - pos_ < width) {
            return cut();
        }
        std::uint32_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            value = (value << 8) | b_[pos_++];
        }
        out.operands.push_back(Operand{Kind::Number, value, 0, 0});
        return true;
    }

    bool vector(Decoded& out, std::uint64_t length) {
        if (b_.size() - pos_ < length) {
            return cut();
        }
        out.operands.push_back(Operand{Kind::Vector, 0, pos_, static_cast<std::size_t>(length)});
        pos_ += static_cast<std::size_t>(length);
        return true;
    }

    bool text(Decoded& out) {
        const std::size_t start = pos_;
        while (pos_ < b_.size() && b_[pos_] != 0) {
            ++pos_;
        }
        if (pos_ >= b_.size()) {
            return cut();
        }
        out.operands.push_back(Operand{Kind::Text, 0, start, pos_ - start});
        ++pos_;  // the 0 byte
        return true;
    }

    bool cut() {
        truncated_ = true;
        pos_ = b_.size();
        return false;
    }

    // Reads the operands the command's layout lists, up to the first that
    // the file cuts short.
    void readOperands(Decoded& out) {
        const XsvfLayout& layout = layoutOf(out.span.code);
        std::uint64_t lengthBits = 0;  // of the XSVF_VECTOR after an XSVF_LENGTH
        for (int i = 0; i < layout.count; ++i) {
            const XsvfOperand operand = layout.operands[i];
            bool read = true;
            switch (operand) {
            case XSVF_VECTOR:
                read = vector(out, bytesForBits(lengthBits));
                break;
            case XSVF_SDR_VECTOR:
                read = vector(out, state_.sdrBytes);
                break;
            case XSVF_DATA_MASK:
                read = vector(out, state_.sdrBytes);
                if (read) {
                    const Operand& mask = out.operands.back();
                    state_.dataMaskOnes = popcount(b_.data() + mask.offset, mask.length);
                }
                break;
            case XSVF_PIECES:
                read = number(out, 1);
                for (std::uint32_t piece = 0, pieces = read ? out.operands.back().value : 0; read && piece < pieces;
                     ++piece) {
                    read = vector(out, bytesForBits(state_.dataMaskOnes));
                }
                break;
            case XSVF_TEXT:
                read = text(out);
                break;
            default:  // the numbers
                read = number(out, xsvfOperandBytes(operand));
                if (read && (operand == XSVF_LENGTH8 || operand == XSVF_LENGTH16)) {
                    lengthBits = out.operands.back().value;
                }
                if (read && operand == XSVF_SDR_SIZE) {
                    state_.sdrBytes = bytesForBits(out.operands.back().value);
                }
                break;
            }
            if (!read) {
                return;
            }
        }
    }

    const std::vector<std::uint8_t>& b_;
    std::size_t pos_ = 0;
    bool truncated_ = false;
    LengthState state_;
};

// ---------------------------------------------------------------- listing

constexpr char kHex[] = "0123456789abcdef";

void appendHex(std::string& text, const std::uint8_t* bytes, std::size_t count) {
    text += "0x";
    for (std::size_t i = 0; i < count; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
}

void appendQuoted(std::string& text, const std::uint8_t* bytes, std::size_t count) {
    text += '"';
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t c = bytes[i];
        switch (c) {
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                text += static_cast<char>(c);
            } else {
                text += "\\x";
                text += kHex[c >> 4];
                text += kHex[c & 0x0F];
            }
        }
    }
    text += '"';
}

void appendLine(std::string& text, const std::vector<std::uint8_t>& bytes, const Decoded& command) {
    const XsvfCommandSpan& span = command.span;
    if (!xsvfIsCommand(span.code)) {
        char line[32];
        std::snprintf(line, sizeof line, "UNKNOWN 0x%02x\n", span.code);
        text += line;
        return;
    }
    if (span.truncated) {
        // The raw operand bytes keep the round trip exact; the player would
        // read 255 for each missing byte.
        text += "TRUNCATED ";
        text += xsvfCommandNames[span.code];
        text += ' ';
        appendHex(text, bytes.data() + span.offset + 1, span.size - 1);
        text += "  # end of file inside the operands\n";
        return;
    }
    text += xsvfCommandNames[span.code];
    for (const Operand& operand : command.operands) {
        text += ' ';
        switch (operand.kind) {
        case Kind::Number:
            text += std::to_string(operand.value);
            break;
        case Kind::Vector:
            appendHex(text, bytes.data() + operand.offset, operand.length);
            break;
        case Kind::Text:
            appendQuoted(text, bytes.data() + operand.offset, operand.length);
            break;
        }
    }
    text += '\n';
}

// ---------------------------------------------------------------- assembling

// Vectors larger than this are refused rather than allocated: the player
// itself stops at 7000 bytes.
constexpr std::uint64_t kMaxAssembledVector = 1u << 24;

struct Token {
    std::string text;
    bool quoted = false;
};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Assembler {
public:
    Assembler(std::vector<std::uint8_t>& out, std::string& error) : out_(out), error_(error) {}

    bool run(const std::string& text) {
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            std::string_view line(text.data() + start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            ++lineNumber_;
            if (!assembleLine(line)) {
                return false;
            }
            start = end + 1;
        }
        return finish();
    }

private:
    bool fail(const std::string& message) {
        error_ = "line " + std::to_string(lineNumber_) + ": " + message;
        return false;
    }

    bool tokenize(std::string_view line, std::vector<Token>& tokens) {
        std::size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (c == ' ' || c == '\t') {
                ++i;
            } else if (c == '#') {
                break;
            } else if (c == '"') {
                Token token;
                token.quoted = true;
                ++i;
                bool closed = false;
                while (i < line.size()) {
                    char d = line[i++];
                    if (d == '"') {
                        closed = true;
                        break;
                    }
                    if (d != '\\') {
                        token.text += d;
                        continue;
                    }
                    if (i >= line.size()) {
                        break;
                    }
                    d = line[i++];
                    switch (d) {
                    case 'n': token.text += '\n'; break;
                    case 'r': token.text += '\r'; break;
                    case 't': token.text += '\t'; break;
                    case '"': token.text += '"'; break;
                    case '\\': token.text += '\\'; break;
                    case 'x': {
                        const int high = i < line.size() ? hexDigit(line[i]) : -1;
                        const int low = i + 1 < line.size() ? hexDigit(line[i + 1]) : -1;
                        if (high < 0 || low < 0) {
                            return fail("\\x needs two hex digits");
                        }
                        token.text += static_cast<char>(high * 16 + low);
                        i += 2;
                        break;
                    }
                    default:
                        return fail(std::string("unknown escape \\") + d);
                    }
                }
                if (!closed) {
                    return fail("text without its closing quote");
                }
                tokens.push_back(std::move(token));
            } else {
                Token token;
                while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '#') {
                    token.text += line[i++];
                }
                tokens.push_back(std::move(token));
            }
        }
        return true;
    }

    bool parseNumber(const Token& token, unsigned width, const char* what, std::uint32_t& value) {
        const std::string& t = token.text;
        std::uint64_t v = 0;
        bool ok = !token.quoted && !t.empty();
        if (ok && t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
            for (std::size_t i = 2; ok && i < t.size(); ++i) {
                const int d = hexDigit(t[i]);
                ok = d >= 0 && v <= 0xFFFFFFFFu;
                v = v * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
            }
        } else {
            for (std::size_t i = 0; ok && i < t.size(); ++i) {
                ok = t[i] >= '0' && t[i] <= '9' && v <= 0xFFFFFFFFu;
                v = v * 10 + static_cast<unsigned>(t[i] - '0');
            }
        }
        if (!ok) {
            return fail(std::string(what) + ": '" + t + "' is not a number");
        }
        const std::uint64_t limit = width >= 4 ? 0xFFFFFFFFull : ((1ull << (8 * width)) - 1);
        if (v > limit) {
            return fail(std::string(what) + ": " + t + " does not fit in " + std::to_string(width) +
                        (width == 1 ? " byte" : " bytes"));
        }
        value = static_cast<std::uint32_t>(v);
        return true;
    }

    // A state operand: a number or one of the sixteen state names.
    bool parseState(const Token& token, const char* what, std::uint32_t& value) {
        for (std::uint32_t s = 0; s < TAP_STATE_COUNT; ++s) {
            if (!token.quoted && equalsIgnoreCase(token.text, tapStateNames[s])) {
                value = s;
                return true;
            }
        }
        return parseNumber(token, 1, what, value);
    }

    // Writes the hex digits of token right-aligned into exactly `length` bytes.
    bool emitVector(const Token& token, std::uint64_t length, const char* what) {
        const std::string& t = token.text;
        if (token.quoted || t.size() < 2 || t[0] != '0' || (t[1] != 'x' && t[1] != 'X')) {
            return fail(std::string(what) + ": '" + t + "' is not a hex vector (0x...)");
        }
        if (length > kMaxAssembledVector) {
            return fail(std::string(what) + ": a vector of " + std::to_string(length) +
                        " bytes is too long to assemble");
        }
        std::size_t first = 2;
        while (first < t.size() && t[first] == '0') {
            ++first;
        }
        for (std::size_t i = 2; i < t.size(); ++i) {
            if (hexDigit(t[i]) < 0) {
                return fail(std::string(what) + ": '" + t + "' is not a hex vector (0x...)");
            }
        }
        const std::size_t digits = t.size() - first;
        if (digits > 2 * length) {
            return fail(std::string(what) + ": " + t + " does not fit in " + std::to_string(length) +
                        (length == 1 ? " byte" : " bytes"));
        }
        const std::size_t base = out_.size();
        out_.resize(base + static_cast<std::size_t>(length), 0);
        // Fill from the last digit backwards: digit k from the end lands in
        // byte length - 1 - k / 2.
        for (std::size_t k = 0; k < digits; ++k) {
            const int d = hexDigit(t[t.size() - 1 - k]);
            std::uint8_t& byte = out_[base + static_cast<std::size_t>(length) - 1 - k / 2];
            byte = static_cast<std::uint8_t>(byte | (d << (4 * (k % 2))));
        }
        lastVector_ = base;
        return true;
    }

    void emitNumber(std::uint32_t value, unsigned width) {
        for (unsigned i = width; i-- > 0;) {
            out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }

    bool codeByName(const std::string& name, std::uint8_t& code) {
        for (unsigned c = 0; c < XSVF_COMMAND_COUNT; ++c) {
            if (equalsIgnoreCase(name, xsvfCommandNames[c])) {
                code = static_cast<std::uint8_t>(c);
                return true;
            }
        }
        return false;
    }

    bool assembleLine(std::string_view line) {
        std::vector<Token> tokens;
        if (!tokenize(line, tokens)) {
            return false;
        }
        if (tokens.empty()) {
            return true;  // blank or comment
        }
        if (truncatedSeen_) {
            return fail("nothing can follow a TRUNCATED command");
        }
        if (tokens[0].quoted) {
            return fail("a line starts with a command name, not text");
        }
        const std::string& name = tokens[0].text;
        if (equalsIgnoreCase(name, "UNKNOWN")) {
            std::uint32_t code = 0;
            if (tokens.size() != 2) {
                return fail("UNKNOWN takes one operand, the code");
            }
            if (!parseNumber(tokens[1], 1, "UNKNOWN", code)) {
                return false;
            }
            if (xsvfIsCommand(static_cast<std::uint8_t>(code))) {
                return fail("UNKNOWN: " + tokens[1].text + " is the code of " + xsvfCommandNames[code]);
            }
            out_.push_back(static_cast<std::uint8_t>(code));
            return true;
        }
        if (equalsIgnoreCase(name, "TRUNCATED")) {
            return assembleTruncated(tokens);
        }
        std::uint8_t code = 0;
        if (!codeByName(name, code)) {
            return fail("unknown command '" + name + "'");
        }
        out_.push_back(code);
        return assembleOperands(code, tokens);
    }

    bool expectOperands(const std::vector<Token>& tokens, std::size_t count) {
        const std::string name = tokens[0].text;
        if (tokens.size() - 1 < count) {
            return fail(name + " needs " + std::to_string(count) + (count == 1 ? " operand" : " operands"));
        }
        if (tokens.size() - 1 > count) {
            return fail(name + ": unexpected operand '" + tokens[count + 1].text + "'");
        }
        return true;
    }

    // One token per operand of the command's layout, except that the
    // pieces of an XSVF_PIECES follow their count on the same line.
    bool assembleOperands(std::uint8_t code, const std::vector<Token>& tokens) {
        const XsvfLayout& layout = layoutOf(code);
        const char* name = xsvfCommandNames[code];
        const bool pieces = layout.count > 0 && layout.operands[layout.count - 1] == XSVF_PIECES;
        if (pieces) {
            if (tokens.size() < 1u + layout.count) {
                return fail(std::string(name) + " needs its TDI and a piece count");
            }
        } else if (!expectOperands(tokens, layout.count)) {
            return false;
        }
        std::uint64_t lengthBits = 0;  // of the XSVF_VECTOR after an XSVF_LENGTH
        for (int i = 0; i < layout.count; ++i) {
            if (!assembleOperand(code, layout.operands[i], tokens, 1 + static_cast<std::size_t>(i), lengthBits)) {
                return false;
            }
        }
        return true;
    }

    bool assembleOperand(std::uint8_t code, XsvfOperand operand, const std::vector<Token>& tokens,
                         std::size_t index, std::uint64_t& lengthBits) {
        const char* name = xsvfCommandNames[code];
        const Token& token = tokens[index];
        std::uint32_t v = 0;
        switch (operand) {
        case XSVF_VECTOR:
            return emitVector(token, bytesForBits(lengthBits), name);
        case XSVF_SDR_VECTOR:
            return emitVector(token, state_.sdrBytes, name);
        case XSVF_DATA_MASK:
            if (!emitVector(token, state_.sdrBytes, name)) {
                return false;
            }
            state_.dataMaskOnes = popcount(out_.data() + lastVector_, out_.size() - lastVector_);
            return true;
        case XSVF_PIECES: {
            if (!parseNumber(token, 1, name, v)) {
                return false;
            }
            emitNumber(v, 1);
            const std::size_t count = v;
            const std::size_t given = tokens.size() - index - 1;
            if (given != count) {
                return fail(std::string(name) + ": the count says " + std::to_string(count) + " pieces, the line has " +
                            std::to_string(given));
            }
            for (std::size_t piece = 0; piece < count; ++piece) {
                if (!emitVector(tokens[index + 1 + piece], bytesForBits(state_.dataMaskOnes), name)) {
                    return false;
                }
            }
            return true;
        }
        case XSVF_TEXT:
            if (!token.quoted) {
                return fail(std::string(name) + ": the text must be in double quotes");
            }
            if (token.text.find('\0') != std::string::npos) {
                return fail(std::string(name) + ": a 0 byte would end the text early");
            }
            out_.insert(out_.end(), token.text.begin(), token.text.end());
            out_.push_back(0);
            return true;
        case XSVF_STATE:
            if (!parseState(token, name, v)) {
                return false;
            }
            break;
        case XSVF_END_STATE:
            // Also by the name of the state it selects.
            if (equalsIgnoreCase(token.text, tapStateNames[xsvfEndState(code, 0)])) {
                v = 0;
            } else if (equalsIgnoreCase(token.text, tapStateNames[xsvfEndState(code, 1)])) {
                v = 1;
            } else if (!parseNumber(token, 1, name, v)) {
                return false;
            }
            break;
        default:  // the other numbers
            if (!parseNumber(token, xsvfOperandBytes(operand), name, v)) {
                return false;
            }
            if (operand == XSVF_LENGTH8 || operand == XSVF_LENGTH16) {
                lengthBits = v;
            }
            if (operand == XSVF_SDR_SIZE) {
                state_.sdrBytes = bytesForBits(v);
            }
            break;
        }
        emitNumber(v, xsvfOperandBytes(operand));
        return true;
    }

    bool assembleTruncated(const std::vector<Token>& tokens) {
        std::uint8_t code = 0;
        if (tokens.size() != 3 || tokens[1].quoted || !codeByName(tokens[1].text, code) || !xsvfIsCommand(code)) {
            return fail("TRUNCATED takes a command name and the operand bytes present (0x...)");
        }
        const Token& raw = tokens[2];
        if (raw.quoted || raw.text.size() < 2 || raw.text[0] != '0' || (raw.text[1] != 'x' && raw.text[1] != 'X') ||
            raw.text.size() % 2 != 0) {
            return fail("TRUNCATED: the operand bytes must be written as 0x and two digits per byte");
        }
        truncatedOffset_ = out_.size();
        out_.push_back(code);
        if (!emitVector(raw, (raw.text.size() - 2) / 2, "TRUNCATED")) {
            return false;
        }
        truncatedSeen_ = true;
        truncatedLine_ = lineNumber_;
        return true;
    }

    bool finish() {
        if (truncatedSeen_) {
            // The listing writes TRUNCATED only where the operands really run
            // out; anything else would not list back to the same text.
            const std::vector<XsvfCommandSpan> spans = splitXsvf(out_);
            if (spans.empty() || spans.back().offset != truncatedOffset_ || !spans.back().truncated) {
                lineNumber_ = truncatedLine_;
                return fail("TRUNCATED: these bytes are not a command cut short by the end of the file");
            }
        }
        return true;
    }

    std::vector<std::uint8_t>& out_;
    std::string& error_;
    LengthState state_;
    std::size_t lineNumber_ = 0;
    std::size_t lastVector_ = 0;
    bool truncatedSeen_ = false;
    std::size_t truncatedOffset_ = 0;
    std::size_t truncatedLine_ = 0;
};

}  // namespace

const char* xsvfCommandName(std::uint8_t code) {
    return code < XSVF_COMMAND_COUNT ? xsvfCommandNames[code] : nullptr;
}

std::vector<XsvfCommandSpan> splitXsvf(const std::vector<std::uint8_t>& xsvf) {
    std::vector<XsvfCommandSpan> spans;
    Decoder decoder(xsvf);
    Decoded command;
    while (!decoder.atEnd()) {
        decoder.next(command);
        spans.push_back(command.span);
    }
    return spans;
}

std::string disassembleXsvf(const std::vector<std::uint8_t>& xsvf) {
    std::string text;
    text.reserve(xsvf.size() * 2 + 64);
    Decoder decoder(xsvf);
    Decoded command;
    while (!decoder.atEnd()) {
        decoder.next(command);
        appendLine(text, xsvf, command);
    }
    return text;
}

bool assembleXsvf(const std::string& text, std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    error.clear();
    Assembler assembler(out, error);
    if (!assembler.run(text)) {
        out.clear();
        return false;
    }
    return true;
}

std::size_t zeroXsvfTdoMasks(std::vector<std::uint8_t>& xsvf) {
    std::size_t masks = 0;
    for (const XsvfCommandSpan& span : splitXsvf(xsvf)) {
        if (span.code == XTDOMASK) {
            std::memset(xsvf.data() + span.offset + 1, 0, span.size - 1);
            ++masks;
        }
    }
    return masks;
}
