// The Itanium C++ ABI mangling, as GCC and MinGW write it. The output follows
// GNU c++filt's spelling ("char const*", "> >"), so listings read the same as
// the binutils tools'.

#include <array>
#include <cstdint>
#include <vector>

#include "demangle/demangle.h"
#include "demangle/mangled_reader.h"
#include "output.h"

namespace tdump {
namespace {

// How deep the grammar may nest, and how much text substitutions may copy:
// a short forged name must not cost unbounded time or memory.
constexpr int maxDepth = 256;
constexpr std::size_t maxCopied = std::size_t{256} * 1024;

// A type being built, kept in two halves so that declarators can wrap it:
// "int (*" + ")(char)" becomes "int (**" + ")(char)" under another pointer.
struct Node {
    enum class Shape : std::uint8_t { plain, function, array };
    std::string head;
    std::string tail;
    Shape shape = Shape::plain;
    std::string baseName;        // for class names: the name a constructor takes
    bool openDeclarator = false; // head ends inside a declarator: "int (*"
    bool isPack = false;         // a template argument pack
    std::vector<Node> pack;      // its elements

    std::string str() const
    {
        switch (shape) {
        case Shape::function:
            return head + (openDeclarator ? "" : " ") + tail;
        case Shape::array:
            return head + " " + tail;
        case Shape::plain:
            break;
        }
        return head + tail;
    }
};

Node plain(std::string text, std::string baseName = {})
{
    Node n;
    n.head = std::move(text);
    n.baseName = std::move(baseName);
    return n;
}

struct Name {
    std::string text;
    bool endsWithTemplateArgs = false;
    bool ctorDtorOrConversion = false;
    std::string qualifiers; // of a member function: " const", " &"
};

struct Operator {
    std::string_view code;
    std::string_view text;
};

constexpr Operator operators[] = {
    {"nw", "new"}, {"na", "new[]"}, {"dl", "delete"}, {"da", "delete[]"}, {"ps", "+"},
    {"ng", "-"},   {"ad", "&"},     {"de", "*"},      {"co", "~"},        {"pl", "+"},
    {"mi", "-"},   {"ml", "*"},     {"dv", "/"},      {"rm", "%"},        {"an", "&"},
    {"or", "|"},   {"eo", "^"},     {"aS", "="},      {"pL", "+="},       {"mI", "-="},
    {"mL", "*="},  {"dV", "/="},    {"rM", "%="},     {"aN", "&="},       {"oR", "|="},
    {"eO", "^="},  {"ls", "<<"},    {"rs", ">>"},     {"lS", "<<="},      {"rS", ">>="},
    {"eq", "=="},  {"ne", "!="},    {"lt", "<"},      {"gt", ">"},        {"le", "<="},
    {"ge", ">="},  {"ss", "<=>"},   {"nt", "!"},      {"aa", "&&"},       {"oo", "||"},
    {"pp", "++"},  {"mm", "--"},    {"cm", ","},      {"pm", "->*"},      {"pt", "->"},
    {"cl", "()"},  {"ix", "[]"},    {"qu", "?"},      {"aw", "co_await"},
};

struct Builtin {
    char code;
    std::string_view name;
};

constexpr Builtin builtins[] = {
    {'v', "void"},        {'w', "wchar_t"},
    {'b', "bool"},        {'c', "char"},
    {'a', "signed char"}, {'h', "unsigned char"},
    {'s', "short"},       {'t', "unsigned short"},
    {'i', "int"},         {'j', "unsigned int"},
    {'l', "long"},        {'m', "unsigned long"},
    {'x', "long long"},   {'y', "unsigned long long"},
    {'n', "__int128"},    {'o', "unsigned __int128"},
    {'f', "float"},       {'d', "double"},
    {'e', "long double"}, {'g', "__float128"},
    {'z', "..."},
};

struct Builtin2 {
    char code;
    std::string_view name;
};

constexpr Builtin2 builtinsD[] = {
    {'d', "decimal64"},      {'e', "decimal128"},        {'f', "decimal32"}, {'h', "half"},
    {'i', "char32_t"},       {'s', "char16_t"},          {'u', "char8_t"},   {'a', "auto"},
    {'c', "decltype(auto)"}, {'n', "decltype(nullptr)"},
};

class Itanium : MangledReader {
public:
    explicit Itanium(std::string_view text) : MangledReader(text, maxDepth) {}

    // The whole name after "_Z", with any ".clone" suffixes.
    std::optional<std::string> run()
    {
        std::string result = encoding();
        while (!failed_ && peek() == '.') {
            result += " [clone " + cloneSuffix() + "]";
        }
        if (failed_ || pos_ != s_.size()) {
            return std::nullopt;
        }
        return result;
    }

private:
    // Text copied from a substitution or template parameter counts against
    // the budget: that is where output can grow far beyond the input.
    const Node& copied(const Node& node)
    {
        copied_ += node.head.size() + node.tail.size();
        if (copied_ > maxCopied) {
            fail();
        }
        return node;
    }

    std::string cloneSuffix()
    {
        std::string text;
        text += s_[pos_++]; // '.'
        const auto isWord = [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        };
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        if (!isWord(peek())) {
            fail();
            return {};
        }
        while (isWord(peek())) {
            text += s_[pos_++];
        }
        while (peek() == '.' && isDigit(peek(1))) {
            text += s_[pos_++];
            while (isDigit(peek())) {
                text += s_[pos_++];
            }
        }
        return text;
    }

    std::optional<std::uint64_t> number()
    {
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (peek() >= '0' && peek() <= '9') {
            if (value > 100000000000ULL) {
                fail();
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::uint64_t>(s_[pos_++] - '0');
            ++digits;
        }
        if (digits == 0) {
            return std::nullopt;
        }
        return value;
    }

    // The digits of <seq-id> (base 36) before '_': S_ is 0, S0_ is 1, ...
    std::optional<std::size_t> sequenceIndex()
    {
        if (consume('_')) {
            return 0;
        }
        std::size_t value = 0;
        std::size_t digits = 0;
        for (char c = peek(); (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); c = peek()) {
            value = value * 36 + static_cast<std::size_t>(c <= '9' ? c - '0' : c - 'A' + 10);
            ++pos_;
            if (++digits > 6) {
                return std::nullopt;
            }
        }
        if (digits == 0 || !consume('_')) {
            return std::nullopt;
        }
        return value + 1;
    }

    std::string sourceName()
    {
        const auto length = number();
        if (!length || *length == 0 || *length > s_.size() - pos_) {
            fail();
            return {};
        }
        std::string name(s_.substr(pos_, static_cast<std::size_t>(*length)));
        pos_ += static_cast<std::size_t>(*length);
        // GCC names anonymous namespaces _GLOBAL__N_<n>.
        if (name.starts_with("_GLOBAL_") && name.size() > 9 &&
            (name[8] == '.' || name[8] == '_' || name[8] == '$') && name[9] == 'N') {
            return "(anonymous namespace)";
        }
        return name;
    }

    std::string abiTags(std::string text)
    {
        while (!failed_ && consume('B')) {
            text += "[abi:" + sourceName() + "]";
        }
        return text;
    }

    void discriminator()
    {
        if (peek() == '_' && peek(1) == '_') {
            pos_ += 2;
            number();
            if (!consume('_')) {
                fail();
            }
        } else if (peek() == '_' && peek(1) >= '0' && peek(1) <= '9') {
            pos_ += 2;
        }
    }

    // ------------------------------------------------------------ encodings

    // withReturnType false: as the scope of a local name, where GNU c++filt
    // leaves the function's return type out.
    std::string encoding(bool withReturnType = true)
    {
        const Depth depth(*this);
        if (failed_) {
            return {};
        }
        if (peek() == 'T' || (peek() == 'G' && (peek(1) == 'V' || peek(1) == 'R' ||
                                                peek(1) == 'T' || peek(1) == 'A'))) {
            return specialName();
        }
        Name n = name(true);
        if (failed_) {
            return {};
        }
        if (atEnd() || peek() == 'E' || peek() == '.') {
            return n.text; // a data object
        }
        Node result;
        bool hasReturn = false;
        if (n.endsWithTemplateArgs && !n.ctorDtorOrConversion) {
            result = type();
            hasReturn = true;
        }
        const std::string params = parameters(false);
        if (failed_) {
            return {};
        }
        if (!hasReturn || !withReturnType) {
            return n.text + params + n.qualifiers;
        }
        if (result.shape == Node::Shape::plain && result.tail.empty()) {
            return result.head + " " + n.text + params + n.qualifiers;
        }
        return result.head + n.text + params + n.qualifiers + result.tail;
    }

    void callOffset()
    {
        if (consume('h')) {
            consume('n');
            number();
        } else if (consume('v')) {
            consume('n');
            number();
            if (!consume('_')) {
                fail();
            }
            consume('n');
            number();
        } else {
            fail();
        }
        if (!consume('_')) {
            fail();
        }
    }

    std::string specialName()
    {
        if (consume("TV")) {
            return "vtable for " + type().str();
        }
        if (consume("TT")) {
            return "VTT for " + type().str();
        }
        if (consume("TI")) {
            return "typeinfo for " + type().str();
        }
        if (consume("TS")) {
            return "typeinfo name for " + type().str();
        }
        if (consume("TW")) {
            return "TLS wrapper function for " + name(false).text;
        }
        if (consume("TH")) {
            return "TLS init function for " + name(false).text;
        }
        if (peek() == 'T' && (peek(1) == 'h' || peek(1) == 'v')) {
            ++pos_;
            const bool isVirtual = peek() == 'v';
            callOffset();
            return (isVirtual ? "virtual thunk to " : "non-virtual thunk to ") + encoding();
        }
        if (consume("Tc")) {
            callOffset();
            callOffset();
            return "covariant return thunk to " + encoding();
        }
        if (consume("TC")) {
            const std::string derived = type().str();
            number();
            if (!consume('_')) {
                fail();
            }
            const std::string base = type().str();
            return "construction vtable for " + base + "-in-" + derived;
        }
        if (consume("GV")) {
            return "guard variable for " + name(false).text;
        }
        if (consume("GR")) {
            const std::string of = name(false).text;
            std::size_t index = 0;
            if (!consume('_')) {
                const auto seq = sequenceIndex();
                if (!seq) {
                    fail();
                }
                index = seq.value_or(0);
            }
            return "reference temporary #" + std::to_string(index) + " for " + of;
        }
        if (consume("GTt")) {
            return "transaction clone for " + encoding();
        }
        if (consume("GTn")) {
            return "non-transaction clone for " + encoding();
        }
        if (consume("GA")) {
            return "hidden alias for " + encoding();
        }
        fail();
        return {};
    }

    // The parameter types up to the end (or 'E' inside a function type);
    // "(void)" is written "()".
    std::string parameters(bool inFunctionType)
    {
        std::vector<std::string> list;
        std::size_t parsed = 0;
        while (!failed_ && !atEnd() && peek() != 'E' && peek() != '.') {
            if (inFunctionType && (peek() == 'R' || peek() == 'O') && peek(1) == 'E') {
                break;
            }
            const Node t = type();
            ++parsed;
            if (!t.isPack || !t.head.empty()) {
                list.push_back(t.str()); // an empty pack expansion adds no parameter
            }
        }
        if (parsed == 0) {
            fail(); // at least one type, "v" for none
            return {};
        }
        if (list.size() == 1 && list[0] == "void") {
            return "()";
        }
        std::string text = "(";
        for (std::size_t i = 0; i < list.size(); ++i) {
            text += (i == 0 ? "" : ", ") + list[i];
        }
        return text + ")";
    }

    // ---------------------------------------------------------------- names

    Name name(bool outer)
    {
        const Depth depth(*this);
        if (failed_) {
            return {};
        }
        if (peek() == 'N') {
            return nestedName(outer);
        }
        if (peek() == 'Z') {
            return localName(outer);
        }
        Name n;
        if (peek() == 'S' && peek(1) != 't') {
            // <unscoped-template-name> ::= <substitution>, always with arguments
            const Node sub = substitution();
            if (peek() != 'I') {
                fail();
                return n;
            }
            n.text = sub.str() + templateArgs(outer);
            n.endsWithTemplateArgs = true;
            return n;
        }
        const bool inStd = consume("St");
        std::string unqualified = unqualifiedName(n);
        n.text = (inStd ? "std::" : "") + unqualified;
        if (peek() == 'I') {
            subs_.push_back(plain(n.text, lastName_));
            n.text += templateArgs(outer);
            n.endsWithTemplateArgs = true;
        }
        return n;
    }

    Name localName(bool outer)
    {
        consume('Z');
        const std::string function = encoding(false);
        if (!consume('E')) {
            fail();
            return {};
        }
        Name n;
        if (consume('s')) {
            discriminator();
            n.text = function + "::string literal";
            return n;
        }
        if (peek() == 'd') {
            fail(); // default argument scopes: rare, not decoded
            return n;
        }
        n = name(outer);
        discriminator();
        n.text = function + "::" + n.text;
        return n;
    }

    Name nestedName(bool outer)
    {
        consume('N');
        Name n;
        std::string cv;
        if (consume('r')) {
            cv = " restrict" + cv;
        }
        if (consume('V')) {
            cv = " volatile" + cv;
        }
        if (consume('K')) {
            cv = " const" + cv;
        }
        n.qualifiers = cv;
        if (consume('R')) {
            n.qualifiers += " &";
        } else if (consume('O')) {
            n.qualifiers += " &&";
        }
        std::string soFar;
        bool pushedLast = false;
        while (!failed_ && !consume('E')) {
            if (atEnd()) {
                fail();
                break;
            }
            n.endsWithTemplateArgs = false;
            pushedLast = true;
            if (peek() == 'I') {
                if (soFar.empty()) {
                    fail();
                    break;
                }
                soFar += templateArgs(outer);
                n.endsWithTemplateArgs = true;
            } else if (peek() == 'T') {
                if (!soFar.empty()) {
                    fail();
                    break;
                }
                soFar = copied(templateParam()).str();
            } else if (peek() == 'S' && peek(1) != 't') {
                if (!soFar.empty()) {
                    fail();
                    break;
                }
                const Node sub = substitution();
                lastName_ = sub.baseName;
                soFar = sub.str();
                pushedLast = false;
                continue;
            } else {
                n.ctorDtorOrConversion = false;
                const bool inStd = soFar.empty() && consume("St");
                const std::string component = unqualifiedName(n);
                if (soFar.empty()) {
                    soFar = inStd ? "std::" + component : component;
                } else {
                    soFar += "::";
                    soFar += component;
                }
            }
            if (failed_) {
                break;
            }
            subs_.push_back(plain(soFar, lastName_));
            consume('M');
        }
        if (soFar.empty()) {
            fail();
        }
        if (pushedLast && !failed_) {
            subs_.pop_back(); // the whole name is not a prefix
        }
        n.text = soFar;
        return n;
    }

    std::string unqualifiedName(Name& n)
    {
        const char c = peek();
        std::string text;
        if (c >= '0' && c <= '9') {
            text = sourceName();
            lastName_ = text;
        } else if (c == 'L') {
            ++pos_; // internal linkage
            text = sourceName();
            lastName_ = text;
            discriminator();
        } else if (c == 'C') {
            ++pos_;
            const bool inheriting = consume('I');
            if (peek() < '1' || peek() > '5') {
                fail();
                return {};
            }
            ++pos_;
            if (inheriting) {
                type();
            }
            text = lastName_;
            n.ctorDtorOrConversion = true;
        } else if (c == 'D' && peek(1) >= '0' && peek(1) <= '5') {
            pos_ += 2;
            text = "~" + lastName_;
            n.ctorDtorOrConversion = true;
        } else if (c == 'U') {
            text = unnamedTypeName();
        } else if (c >= 'a' && c <= 'z') {
            text = operatorName(n);
        } else {
            fail();
        }
        return abiTags(text);
    }

    std::string unnamedTypeName()
    {
        if (consume("Ut")) {
            const auto n = number();
            if (!consume('_')) {
                fail();
            }
            return "{unnamed type#" + std::to_string(n ? *n + 2 : 1) + "}";
        }
        if (consume("Ul")) {
            const std::string params = parameters(true);
            if (!consume('E')) {
                fail();
                return {};
            }
            const auto n = number();
            if (!consume('_')) {
                fail();
            }
            return "{lambda" + params + "#" + std::to_string(n ? *n + 2 : 1) + "}";
        }
        fail();
        return {};
    }

    std::string operatorName(Name& n)
    {
        if (consume("cv")) {
            n.ctorDtorOrConversion = true;
            return "operator " + type().str();
        }
        if (consume("li")) {
            return "operator\"\" " + sourceName();
        }
        if (peek() == 'v' && peek(1) >= '0' && peek(1) <= '9') {
            pos_ += 2;
            return "operator " + sourceName();
        }
        for (const Operator& op : operators) {
            if (consume(op.code)) {
                const bool word = op.text[0] >= 'a' && op.text[0] <= 'z';
                std::string text = "operator" + std::string(word ? " " : "") + std::string(op.text);
                // "operator< <int>" keeps the template's bracket apart.
                if (peek() == 'I' && text.back() == '<') {
                    text += ' ';
                }
                return text;
            }
        }
        fail();
        return {};
    }

    // -------------------------------------------------------- substitutions

    Node substitution()
    {
        consume('S');
        // GNU c++filt spells the stream and string abbreviations out in full.
        struct Abbreviation {
            char code;
            std::string_view text;
            std::string_view base;
        };
        static constexpr Abbreviation abbreviations[] = {
            {'a', "std::allocator", "allocator"},
            {'b', "std::basic_string", "basic_string"},
            {'s', "std::basic_string<char, std::char_traits<char>, std::allocator<char> >",
             "basic_string"},
            {'i', "std::basic_istream<char, std::char_traits<char> >", "basic_istream"},
            {'o', "std::basic_ostream<char, std::char_traits<char> >", "basic_ostream"},
            {'d', "std::basic_iostream<char, std::char_traits<char> >", "basic_iostream"},
        };
        for (const Abbreviation& a : abbreviations) {
            if (consume(a.code)) {
                return plain(std::string(a.text), std::string(a.base));
            }
        }
        const auto index = sequenceIndex();
        if (!index || *index >= subs_.size()) {
            fail();
            return {};
        }
        return copied(subs_[*index]);
    }

    Node templateParam()
    {
        consume('T');
        const auto index = sequenceIndexDecimal();
        if (!index || *index >= templateParams_.size()) {
            fail();
            return {};
        }
        const Node& param = templateParams_[*index];
        if (param.isPack && packIndex_ >= 0) {
            // Inside a pack expansion: the element being expanded.
            packSize_ = param.pack.size();
            if (static_cast<std::size_t>(packIndex_) < param.pack.size()) {
                return param.pack[static_cast<std::size_t>(packIndex_)];
            }
            return {};
        }
        return param;
    }

    // Dp <type>: the pattern once for each element of the pack it names.
    Node packExpansion()
    {
        const std::size_t start = pos_;
        const int outerIndex = packIndex_;
        const std::size_t outerSize = packSize_;
        packIndex_ = 0;
        packSize_ = noPack;
        const std::string first = type().str();
        const std::size_t end = pos_;
        const std::size_t size = packSize_;
        std::string text;
        if (size == noPack) {
            text = first + "..."; // no pack in the pattern: keep it as written
        } else if (size > 0) {
            text = first;
            const std::size_t keep = subs_.size();
            for (std::size_t i = 1; i < size && !failed_; ++i) {
                pos_ = start;
                packIndex_ = static_cast<int>(i);
                text += ", " + type().str();
                subs_.resize(keep);
            }
            pos_ = end;
        }
        packIndex_ = outerIndex;
        packSize_ = outerSize;
        Node n = plain(text);
        n.isPack = true; // may stand for no parameter at all
        return n;
    }

    // T_ is 0, T0_ is 1: decimal digits, unlike substitutions.
    std::optional<std::size_t> sequenceIndexDecimal()
    {
        if (consume('_')) {
            return 0;
        }
        const auto n = number();
        if (!n || !consume('_')) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(*n) + 1;
    }

    // ---------------------------------------------------------------- types

    Node type()
    {
        const Depth depth(*this);
        if (failed_ || atEnd()) {
            fail();
            return {};
        }
        const char c = peek();
        for (const Builtin& b : builtins) {
            if (c == b.code) {
                ++pos_;
                return plain(std::string(b.name));
            }
        }
        Node result;
        switch (c) {
        case 'D': {
            for (const Builtin2& b : builtinsD) {
                if (peek(1) == b.code) {
                    pos_ += 2;
                    return plain(std::string(b.name));
                }
            }
            if (consume("DF")) {
                const auto bits = number();
                if (!bits || !consume('_')) {
                    fail();
                    return {};
                }
                return plain("_Float" + std::to_string(*bits));
            }
            if (consume("Dp")) {
                result = packExpansion();
            } else if (consume("Dv")) {
                const auto count = number();
                if (!count || !consume('_')) {
                    fail();
                    return {};
                }
                result = plain(type().str() + " __vector(" + std::to_string(*count) + ")");
            } else if (peek(1) == 'o' || peek(1) == 'x') {
                result = functionType();
            } else {
                fail();
                return {};
            }
            break;
        }
        case 'r':
        case 'V':
        case 'K':
            result = qualifiedType();
            break;
        case 'P':
            ++pos_;
            result = wrap(type(), "*");
            break;
        case 'R':
            ++pos_;
            result = wrap(type(), "&");
            break;
        case 'O':
            ++pos_;
            result = wrap(type(), "&&");
            break;
        case 'C':
            ++pos_;
            result = plain(type().str() + " _Complex");
            break;
        case 'G':
            ++pos_;
            result = plain(type().str() + " _Imaginary");
            break;
        case 'F':
            result = functionType();
            break;
        case 'A':
            result = arrayType();
            break;
        case 'M':
            result = memberPointer();
            break;
        case 'u':
            ++pos_;
            result = plain(sourceName());
            break;
        case 'T': {
            result = copied(templateParam());
            if (peek() == 'I') {
                if (!failed_) {
                    subs_.push_back(result);
                }
                result = plain(result.str() + templateArgs(false));
            }
            break;
        }
        case 'S':
            if (peek(1) != 't') {
                result = substitution();
                if (peek() != 'I') {
                    return result; // already a candidate: not added again
                }
                result = plain(result.str() + templateArgs(false), result.baseName);
                break;
            }
            result = className();
            break;
        case 'N':
        case 'Z':
            result = className();
            break;
        default:
            if (c >= '0' && c <= '9') {
                result = className();
                break;
            }
            fail();
            return {};
        }
        if (!failed_) {
            subs_.push_back(result);
        }
        return result;
    }

    Node className()
    {
        const Name n = name(false);
        return plain(n.text, lastName_);
    }

    Node qualifiedType()
    {
        std::string cv;
        if (consume('r')) {
            cv = " restrict";
        }
        if (consume('V')) {
            cv = " volatile" + cv;
        }
        if (consume('K')) {
            cv = " const" + cv;
        }
        Node inner = type();
        if (inner.shape == Node::Shape::function) {
            inner.tail += cv; // a member function's qualifiers
        } else {
            inner.head += cv;
        }
        return inner;
    }

    static Node wrap(const Node& inner, std::string_view op)
    {
        // Reference collapsing, for references to template parameters:
        // & && is &, && & is &.
        if (inner.shape == Node::Shape::plain && inner.tail.empty() && (op == "&" || op == "&&")) {
            if (inner.head.ends_with("&&")) {
                Node n = inner;
                n.head.resize(n.head.size() - 2);
                n.head += std::string(op);
                return n;
            }
            if (inner.head.ends_with("&")) {
                return inner;
            }
        }
        Node n;
        n.openDeclarator = true;
        switch (inner.shape) {
        case Node::Shape::function:
            n.head = inner.head + (inner.openDeclarator ? "(" : " (") + std::string(op);
            n.tail = ")" + inner.tail;
            break;
        case Node::Shape::array:
            n.head = inner.head + " (" + std::string(op);
            n.tail = ") " + inner.tail;
            break;
        case Node::Shape::plain:
            n.head = inner.head + std::string(op);
            n.tail = inner.tail;
            n.openDeclarator = inner.openDeclarator;
            break;
        }
        return n;
    }

    Node functionType()
    {
        std::string exception;
        if (consume("Do")) {
            exception = " noexcept";
        }
        consume("Dx");
        if (!consume('F')) {
            fail();
            return {};
        }
        consume('Y');
        const Node result = type();
        std::string params = parameters(true);
        if (consume("RE")) {
            params += " &";
        } else if (consume("OE")) {
            params += " &&";
        } else if (!consume('E')) {
            fail();
            return {};
        }
        Node n;
        n.shape = Node::Shape::function;
        n.openDeclarator = result.shape == Node::Shape::plain && result.openDeclarator;
        n.head = result.shape == Node::Shape::plain ? result.head : result.str();
        n.tail = params + exception + (result.shape == Node::Shape::plain ? result.tail : "");
        return n;
    }

    Node arrayType()
    {
        consume('A');
        std::string bound;
        if (peek() >= '0' && peek() <= '9') {
            bound = std::to_string(number().value_or(0));
        } else if (peek() != '_') {
            bound = expression();
        }
        if (!consume('_')) {
            fail();
            return {};
        }
        const Node element = type();
        Node n;
        n.shape = Node::Shape::array;
        if (element.shape == Node::Shape::array) {
            n.head = element.head;
            n.tail = "[" + bound + "]" + element.tail;
        } else {
            n.head = element.str();
            n.tail = "[" + bound + "]";
        }
        return n;
    }

    Node memberPointer()
    {
        consume('M');
        const std::string cls = type().str();
        const Node member = type();
        Node n;
        if (member.shape == Node::Shape::function) {
            n.head = member.head + (member.openDeclarator ? "(" : " (") + cls + "::*";
            n.tail = ")" + member.tail;
            n.openDeclarator = true;
        } else {
            n.head = member.str() + " " + cls + "::*";
        }
        return n;
    }

    // ------------------------------------------------ templates, expressions

    std::string templateArgs(bool outer)
    {
        const Depth depth(*this);
        consume('I');
        // Names inside the arguments are not the name a constructor repeats.
        const std::string ownName = lastName_;
        std::vector<Node> args;
        while (!failed_ && !consume('E')) {
            if (atEnd()) {
                fail();
                break;
            }
            args.push_back(templateArg());
        }
        std::string text = "<";
        bool first = true;
        for (const Node& a : args) {
            const std::string s = a.str();
            if (s.empty() && a.head.empty()) {
                continue; // an empty pack
            }
            text += (first ? "" : ", ") + s;
            first = false;
        }
        text += text.back() == '>' ? " >" : ">";
        if (outer && !failed_) {
            templateParams_ = std::move(args);
        }
        lastName_ = ownName;
        return text;
    }

    Node templateArg()
    {
        if (consume('X')) {
            const std::string e = expression();
            if (!consume('E')) {
                fail();
            }
            return plain(e);
        }
        if (peek() == 'L') {
            return plain(exprPrimary());
        }
        if (consume('J') || consume('I')) { // 'I': how older GCC wrote a pack
            Node pack;
            pack.isPack = true;
            while (!failed_ && !consume('E')) {
                if (atEnd()) {
                    fail();
                    break;
                }
                pack.pack.push_back(templateArg());
                const std::string s = pack.pack.back().str();
                pack.head += (pack.head.empty() ? "" : ", ") + s;
            }
            return pack;
        }
        return type();
    }

    std::string expression()
    {
        const Depth depth(*this);
        if (failed_) {
            return {};
        }
        if (peek() == 'T') {
            return copied(templateParam()).str();
        }
        if (peek() == 'L') {
            return exprPrimary();
        }
        if (consume("fp")) {
            while (consume('r') || consume('V') || consume('K')) {
            }
            const auto n = number();
            if (!consume('_')) {
                fail();
            }
            return "{parm#" + std::to_string(n ? *n + 2 : 1) + "}";
        }
        if (consume("sZ")) {
            return "sizeof...(" + (peek() == 'T' ? copied(templateParam()).str() : expression()) +
                   ")";
        }
        if (consume("st")) {
            return "sizeof (" + type().str() + ")";
        }
        if (consume("sz")) {
            return "sizeof (" + expression() + ")";
        }
        if (consume("at")) {
            return "alignof (" + type().str() + ")";
        }
        fail();
        return {};
    }

    std::string exprPrimary()
    {
        consume('L');
        if (consume("_Z")) {
            std::string text = encoding();
            if (!consume('E')) {
                fail();
            }
            return text;
        }
        if (consume("DnE")) {
            return "decltype(nullptr)";
        }
        std::string typeName;
        char code = peek();
        const bool builtin = std::string_view("bcahstijlmxyn").find(code) != std::string_view::npos;
        if (builtin) {
            ++pos_;
        } else {
            code = '\0';
            typeName = type().str();
        }
        std::string value = consume('n') ? "-" : "";
        const std::size_t start = pos_;
        while (peek() >= '0' && peek() <= '9') {
            ++pos_;
        }
        if (pos_ == start || pos_ - start > 40 || !consume('E')) {
            fail();
            return {};
        }
        value += std::string(s_.substr(start, pos_ - start - 1));
        switch (code) {
        case 'b':
            return value == "0" ? "false" : value == "1" ? "true" : "(bool)" + value;
        case 'i':
            return value;
        case 'j':
            return value + "u";
        case 'l':
            return value + "l";
        case 'm':
            return value + "ul";
        case 'x':
            return value + "ll";
        case 'y':
            return value + "ull";
        case '\0':
            return "(" + typeName + ")" + value;
        default:
            break;
        }
        for (const Builtin& b : builtins) {
            if (b.code == code) {
                return "(" + std::string(b.name) + ")" + value;
            }
        }
        return value;
    }

    std::size_t copied_ = 0;
    std::vector<Node> subs_;
    std::vector<Node> templateParams_;
    std::string lastName_; // the last plain name, which constructors repeat
    static constexpr std::size_t noPack = ~std::size_t{0};
    int packIndex_ = -1;            // the element a pack expansion is at, or -1
    std::size_t packSize_ = noPack; // the size of the pack the expansion met
};

} // namespace

std::optional<std::string> demangleItanium(std::string_view name)
{
    if (name.starts_with("_GLOBAL__sub_I_") || name.starts_with("_GLOBAL__sub_D_")) {
        const std::string_view of = name.substr(15);
        const auto inner = demangleItanium(of);
        return std::string(name[13] == 'I' ? "global constructors keyed to "
                                           : "global destructors keyed to ") +
               (inner ? *inner : std::string(of));
    }
    if (!name.starts_with("_Z")) {
        return std::nullopt;
    }
    return Itanium(name.substr(2)).run();
}

std::optional<std::string> demangle(std::string_view name)
{
    if (name.starts_with("_Z") || name.starts_with("_GLOBAL__sub_")) {
        return demangleItanium(name);
    }
    if (name.starts_with("?")) {
        return demangleMicrosoft(name);
    }
    return std::nullopt;
}

std::string displayName(std::string_view name, bool wantDemangled)
{
    if (!wantDemangled) {
        return printable(name);
    }
    // Prefixes the toolchains add in front of a mangled name.
    std::string_view prefix;
    std::string_view rest = name;
    for (const std::string_view p : {std::string_view("__imp_"), std::string_view(".refptr.")}) {
        if (rest.starts_with(p)) {
            prefix = p;
            rest.remove_prefix(p.size());
            break;
        }
    }
    if (rest.starts_with("__Z")) {
        rest.remove_prefix(1); // 32-bit x86 names carry one more underscore
    }
    const auto plainName = demangle(rest);
    return printable(plainName ? std::string(prefix) + *plainName : std::string(name));
}

} // namespace tdump
