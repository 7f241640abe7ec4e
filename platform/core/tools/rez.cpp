// brimtone-rez: compiles a small text description of resources into a
// classic resource file.
//
//   # string lists: one string per item, adjacent strings are joined
//   resource 'STR#' 128 "Slider names" {
//       "Threshold";
//       "Unused";
//   }
//   # any other resource as hexadecimal bytes; the name is optional
//   data 'Pref' 0 "Name" $"0003 0000";
//
// Strings are UTF-8 with the escapes \" \\ \n \t and are stored in Mac OS Roman.

#include "Files.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "MacRomanText.h"
#include "Resources.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct CompileError {
    int line;
    std::string message;
};

struct Resource {
    ResType type = 0;
    SInt16 id = 0;
    std::string name; // Mac OS Roman
    std::vector<UInt8> data;
    int line = 0;
};

enum class TokenKind { Word, Type, Number, String, Hex, Symbol, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;
    int line = 0;
};

class Lexer {
public:
    explicit Lexer(std::string source) : mSource(std::move(source)) {}

    Token Next()
    {
        SkipSpaceAndComments();
        Token token;
        token.line = mLine;
        if (mPos >= mSource.size())
            return token;
        const char c = mSource[mPos];
        if (std::isalpha(static_cast<unsigned char>(c))) {
            token.kind = TokenKind::Word;
            while (mPos < mSource.size() && std::isalnum(static_cast<unsigned char>(mSource[mPos])))
                token.text += mSource[mPos++];
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
            token.kind = TokenKind::Number;
            token.text += mSource[mPos++];
            while (mPos < mSource.size() && std::isdigit(static_cast<unsigned char>(mSource[mPos])))
                token.text += mSource[mPos++];
        } else if (c == '\'') {
            token.kind = TokenKind::Type;
            const size_t close = mSource.find('\'', mPos + 1);
            if (close == std::string::npos || mSource.find('\n', mPos) < close)
                throw CompileError{mLine, "unterminated resource type"};
            token.text = mSource.substr(mPos + 1, close - mPos - 1);
            mPos = close + 1;
        } else if (c == '"') {
            token.kind = TokenKind::String;
            token.text = ReadString();
        } else if (c == '$' && mPos + 1 < mSource.size() && mSource[mPos + 1] == '"') {
            token.kind = TokenKind::Hex;
            ++mPos;
            const size_t close = mSource.find('"', mPos + 1);
            if (close == std::string::npos)
                throw CompileError{mLine, "unterminated hexadecimal string"};
            token.text = mSource.substr(mPos + 1, close - mPos - 1);
            for (const char h : token.text) {
                if (h == '\n')
                    ++mLine;
            }
            mPos = close + 1;
        } else if (c == '{' || c == '}' || c == ';') {
            token.kind = TokenKind::Symbol;
            token.text = std::string(1, c);
            ++mPos;
        } else {
            throw CompileError{mLine, std::string("unexpected character '") + c + "'"};
        }
        return token;
    }

private:
    void SkipSpaceAndComments()
    {
        while (mPos < mSource.size()) {
            const char c = mSource[mPos];
            if (c == '\n') {
                ++mLine;
                ++mPos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++mPos;
            } else if (c == '#' || (c == '/' && mPos + 1 < mSource.size() && mSource[mPos + 1] == '/')) {
                while (mPos < mSource.size() && mSource[mPos] != '\n')
                    ++mPos;
            } else {
                return;
            }
        }
    }

    std::string ReadString()
    {
        std::string text;
        ++mPos;
        while (true) {
            if (mPos >= mSource.size() || mSource[mPos] == '\n')
                throw CompileError{mLine, "unterminated string"};
            const char c = mSource[mPos++];
            if (c == '"')
                return text;
            if (c != '\\') {
                text += c;
                continue;
            }
            if (mPos >= mSource.size())
                throw CompileError{mLine, "unterminated string"};
            const char escaped = mSource[mPos++];
            switch (escaped) {
            case '"':
            case '\\':
                text += escaped;
                break;
            case 'n':
                text += '\n';
                break;
            case 't':
                text += '\t';
                break;
            default:
                throw CompileError{mLine, std::string("unknown escape \\") + escaped};
            }
        }
    }

    std::string mSource;
    size_t mPos = 0;
    int mLine = 1;
};

class Parser {
public:
    explicit Parser(std::string source) : mLexer(std::move(source)) { Advance(); }

    std::vector<Resource> ParseAll()
    {
        std::vector<Resource> resources;
        std::set<std::pair<ResType, SInt16>> seen;
        while (mToken.kind != TokenKind::End) {
            Resource resource = ParseStatement();
            if (!seen.insert({resource.type, resource.id}).second)
                throw CompileError{resource.line, "resource defined twice"};
            resources.push_back(std::move(resource));
        }
        return resources;
    }

private:
    void Advance() { mToken = mLexer.Next(); }

    bool IsSymbol(const char* symbol) const
    {
        return mToken.kind == TokenKind::Symbol && mToken.text == symbol;
    }

    void Expect(const char* symbol)
    {
        if (!IsSymbol(symbol))
            throw CompileError{mToken.line, std::string("expected '") + symbol + "'"};
        Advance();
    }

    Resource ParseStatement()
    {
        if (mToken.kind != TokenKind::Word || (mToken.text != "resource" && mToken.text != "data"))
            throw CompileError{mToken.line, "expected 'resource' or 'data'"};
        const bool isData = mToken.text == "data";
        Resource resource;
        resource.line = mToken.line;
        Advance();
        ParseHeader(resource);
        if (isData) {
            if (mToken.kind != TokenKind::Hex)
                throw CompileError{mToken.line, "expected hexadecimal data $\"...\""};
            while (mToken.kind == TokenKind::Hex) {
                AppendHex(mToken, resource.data);
                Advance();
            }
            Expect(";");
        } else {
            if (resource.type != FOUR_CHAR_CODE("STR#"))
                throw CompileError{resource.line, "only 'STR#' lists take a block; use 'data'"};
            resource.data = ParseStringList();
        }
        return resource;
    }

    void ParseHeader(Resource& resource)
    {
        if (mToken.kind != TokenKind::Type || mToken.text.size() != 4)
            throw CompileError{mToken.line, "expected a four-character resource type such as 'STR#'"};
        for (const char c : mToken.text) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                throw CompileError{mToken.line, "resource types are four printable ASCII characters"};
        }
        resource.type = 0;
        for (const char c : mToken.text)
            resource.type = (resource.type << 8) | static_cast<unsigned char>(c);
        Advance();
        if (mToken.kind != TokenKind::Number)
            throw CompileError{mToken.line, "expected a resource ID"};
        long id = 0;
        if (mToken.text == "-" || mToken.text.size() > 7 || (id = std::stol(mToken.text)) < -32768 || id > 32767)
            throw CompileError{mToken.line, "resource ID must be a number from -32768 to 32767"};
        resource.id = SInt16(id);
        Advance();
        if (mToken.kind == TokenKind::String) {
            resource.name = ToMacRoman(mToken);
            Advance();
        }
    }

    std::vector<UInt8> ParseStringList()
    {
        Expect("{");
        std::vector<std::string> strings;
        while (!IsSymbol("}")) {
            if (mToken.kind != TokenKind::String)
                throw CompileError{mToken.line, "expected a string or '}'"};
            const int line = mToken.line;
            std::string text;
            while (mToken.kind == TokenKind::String) {
                text += ToMacRoman(mToken);
                Advance();
            }
            if (text.size() > 255)
                throw CompileError{line, "string longer than 255 bytes in Mac OS Roman"};
            strings.push_back(std::move(text));
            Expect(";");
        }
        Advance();
        if (IsSymbol(";"))
            Advance();
        if (strings.size() > 32767)
            throw CompileError{mToken.line, "too many strings in one list"};
        std::vector<UInt8> data{UInt8(strings.size() >> 8), UInt8(strings.size())};
        for (const std::string& text : strings) {
            data.push_back(UInt8(text.size()));
            data.insert(data.end(), text.begin(), text.end());
        }
        return data;
    }

    static std::string ToMacRoman(const Token& token)
    {
        std::string converted;
        if (!TBMacRomanFromUTF8(token.text, converted))
            throw CompileError{token.line, "string holds a character that Mac OS Roman lacks"};
        if (converted.size() > 255)
            throw CompileError{token.line, "string longer than 255 bytes in Mac OS Roman"};
        return converted;
    }

    static void AppendHex(const Token& token, std::vector<UInt8>& out)
    {
        int pending = -1;
        for (const char c : token.text) {
            if (std::isspace(static_cast<unsigned char>(c)))
                continue;
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                throw CompileError{token.line, std::string("not a hexadecimal digit: '") + c + "'"};
            const int value = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                          : std::tolower(c) - 'a' + 10;
            if (pending < 0) {
                pending = value;
            } else {
                out.push_back(UInt8(pending * 16 + value));
                pending = -1;
            }
        }
        if (pending >= 0)
            throw CompileError{token.line, "odd number of hexadecimal digits"};
    }

    Lexer mLexer;
    Token mToken;
};

OSErr WriteResources(const std::string& outputPath, const std::vector<Resource>& resources)
{
    FSSpec spec;
    OSErr err = TBFSSpecFromPath(outputPath, &spec);
    if (err == noErr)
        err = FSpDelete(&spec);
    else if (err == fnfErr)
        err = noErr;
    if (err != noErr)
        return err;
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("RSED"), FOUR_CHAR_CODE("rsrc"), smSystemScript);
    if ((err = ResError()) != noErr)
        return err;
    const SInt16 refNum = FSpOpenResFile(&spec, fsRdWrPerm);
    if (refNum == -1)
        return ResError();
    for (const Resource& resource : resources) {
        Handle h = NewHandle(Size(resource.data.size()));
        if (!h) {
            err = memFullErr;
            break;
        }
        if (!resource.data.empty())
            std::memcpy(*h, resource.data.data(), resource.data.size());
        Str255 name;
        name[0] = UInt8(resource.name.size());
        std::memcpy(name + 1, resource.name.data(), resource.name.size());
        AddResource(h, resource.type, resource.id, name);
        if ((err = ResError()) != noErr) {
            DisposeHandle(h);
            break;
        }
    }
    if (err == noErr) {
        CloseResFile(refNum);
        err = ResError();
    } else {
        CloseResFile(refNum);
    }
    if (err != noErr)
        FSpDelete(&spec);
    return err;
}

int Usage()
{
    std::fprintf(stderr, "usage: brimtone-rez SOURCE.r -o OUTPUT.rsrc\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string input;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else if (input.empty() && argv[i][0] != '-')
            input = argv[i];
        else
            return Usage();
    }
    if (input.empty() || output.empty())
        return Usage();

    std::ifstream stream(input, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "%s: cannot read: %s\n", input.c_str(), std::strerror(errno));
        return 1;
    }
    std::ostringstream source;
    source << stream.rdbuf();

    std::vector<Resource> resources;
    try {
        resources = Parser(source.str()).ParseAll();
    } catch (const CompileError& error) {
        std::fprintf(stderr, "%s:%d: %s\n", input.c_str(), error.line, error.message.c_str());
        return 1;
    }
    const OSErr err = WriteResources(output, resources);
    if (err != noErr) {
        std::fprintf(stderr, "%s: cannot write the resource file (error %d)\n", output.c_str(), err);
        return 1;
    }
    return 0;
}
