// Microsoft C++ name decoration ("?name@scope@@..."): functions, variables,
// local statics, templates with type or integer arguments, operators
// (conversions and templated ones too), vftables and vbtables, and the RTTI
// records. The words follow llvm-undname ("int __cdecl f(char const *)",
// "`RTTI Type Descriptor'"); the spacing follows the Microsoft tools' undname
// around '*', '&' and closing template brackets ("char * &", "a<b<c> >"),
// the same "> >" that the Itanium side writes.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "demangle/demangle.h"
#include "demangle/mangled_reader.h"

namespace tdump {
namespace {

constexpr int maxDepth = 128;
constexpr std::size_t maxOutput = std::size_t{64} * 1024;

std::string_view cvText(unsigned quals)
{
    static constexpr std::array<std::string_view, 4> texts = {"", " const", " volatile",
                                                              " const volatile"};
    return texts[quals & 3U];
}

// A type in two halves, so a declarator can go between them: a function
// pointer "int (__cdecl *" + ")(int)", a reference to an array "char (&" +
// ")[260]". Its own qualifiers come after the head.
struct Type {
    std::string head;
    std::string tail;
    unsigned quals = 0;
    // For pointers and references to data: where the pointee's qualifiers
    // are written in head, and which they are, since a variable's trailing
    // qualifiers belong to its pointee.
    std::optional<std::size_t> pointeeAt;
    unsigned pointeeQuals = 0;

    static Type of(std::string head, std::string tail = {})
    {
        Type t;
        t.head = std::move(head);
        t.tail = std::move(tail);
        return t;
    }

    std::string headText() const { return head + std::string(cvText(quals)); }
    std::string str() const { return headText() + tail; }
};

struct Special {
    std::string_view code;
    std::string_view text;
};

// After "??": operators and the compiler's special members.
constexpr Special specials[] = {
    {"2", "operator new"},
    {"3", "operator delete"},
    {"4", "operator="},
    {"5", "operator>>"},
    {"6", "operator<<"},
    {"7", "operator!"},
    {"8", "operator=="},
    {"9", "operator!="},
    {"A", "operator[]"},
    {"C", "operator->"},
    {"D", "operator*"},
    {"E", "operator++"},
    {"F", "operator--"},
    {"G", "operator-"},
    {"H", "operator+"},
    {"I", "operator&"},
    {"J", "operator->*"},
    {"K", "operator/"},
    {"L", "operator%"},
    {"M", "operator<"},
    {"N", "operator<="},
    {"O", "operator>"},
    {"P", "operator>="},
    {"Q", "operator,"},
    {"R", "operator()"},
    {"S", "operator~"},
    {"T", "operator^"},
    {"U", "operator|"},
    {"V", "operator&&"},
    {"W", "operator||"},
    {"X", "operator*="},
    {"Y", "operator+="},
    {"Z", "operator-="},
    {"_0", "operator/="},
    {"_1", "operator%="},
    {"_2", "operator>>="},
    {"_3", "operator<<="},
    {"_4", "operator&="},
    {"_5", "operator|="},
    {"_6", "operator^="},
    {"_7", "`vftable'"},
    {"_8", "`vbtable'"},
    {"_9", "`vcall'"},
    {"_B", "`local static guard'"},
    {"_D", "`vbase dtor'"},
    {"_E", "`vector deleting dtor'"},
    {"_F", "`default ctor closure'"},
    {"_G", "`scalar deleting dtor'"},
    {"_R4", "`RTTI Complete Object Locator'"},
    {"_U", "operator new[]"},
    {"_V", "operator delete[]"},
};

struct Basic {
    char code;
    std::string_view name;
};

constexpr Basic basics[] = {
    {'C', "signed char"},    {'D', "char"},  {'E', "unsigned char"}, {'F', "short"},
    {'G', "unsigned short"}, {'H', "int"},   {'I', "unsigned int"},  {'J', "long"},
    {'K', "unsigned long"},  {'M', "float"}, {'N', "double"},        {'O', "long double"},
    {'X', "void"},
};

constexpr Basic underscored[] = {
    {'J', "__int64"},  {'K', "unsigned __int64"}, {'N', "bool"},    {'W', "wchar_t"},
    {'S', "char16_t"}, {'U', "char32_t"},         {'Q', "char8_t"},
};

// What the last part of a symbol's name is, which decides how the rest of
// the symbol reads.
enum class Leaf : std::uint8_t {
    plain,
    constructor,
    destructor,
    conversion, // "operator int": named after its return type
    untyped,    // RTTI records that are bare names closed by '8'
};

class Microsoft : MangledReader {
public:
    explicit Microsoft(std::string_view text) : MangledReader(text, maxDepth) {}

    std::optional<std::string> run()
    {
        std::string result = symbol();
        if (failed_ || pos_ != s_.size() || result.size() > maxOutput) {
            return std::nullopt;
        }
        return result;
    }

private:
    // The next character, or '\0' (and failure) at the end; never moves past it.
    char next()
    {
        if (atEnd()) {
            fail();
            return '\0';
        }
        return s_[pos_++];
    }

    void remember(std::vector<std::string>& list, const std::string& text)
    {
        if (list.size() < 10 && std::find(list.begin(), list.end(), text) == list.end()) {
            list.push_back(text);
        }
    }

    // A back-reference copies earlier text; the copies are what could make
    // a short name expand without bound, so they share one budget.
    template <typename T> T recall(const std::vector<T>& list)
    {
        const auto index = static_cast<std::size_t>(next() - '0');
        if (index >= list.size()) {
            fail();
            return {};
        }
        const T& found = list[index];
        if constexpr (std::is_same_v<T, Type>) {
            copied_ += found.head.size() + found.tail.size();
        } else {
            copied_ += found.size();
        }
        if (copied_ > maxOutput) {
            fail();
            return {};
        }
        return found;
    }

    // <number>: a digit for 1..10, or hex digits A..P closed by '@'.
    std::optional<std::int64_t> number()
    {
        const bool negative = consume('?');
        std::int64_t value = 0;
        if (peek() >= '0' && peek() <= '9') {
            value = s_[pos_++] - '0' + 1;
        } else {
            int digits = 0;
            while (peek() >= 'A' && peek() <= 'P') {
                if (++digits > 15) {
                    return std::nullopt;
                }
                value = value * 16 + (s_[pos_++] - 'A');
            }
            if (!consume('@')) {
                return std::nullopt;
            }
        }
        return negative ? -value : value;
    }

    std::int64_t requiredNumber()
    {
        const auto n = number();
        if (!n) {
            fail();
        }
        return n.value_or(0);
    }

    // A, B, C, D: none, const, volatile, both; bit 1 const, bit 2 volatile.
    unsigned qualifiers()
    {
        const char c = next();
        if (c < 'A' || c > 'D') {
            fail();
            return 0;
        }
        return static_cast<unsigned>(c - 'A');
    }

    std::string simpleName()
    {
        const std::size_t end = s_.find('@', pos_);
        if (end == std::string_view::npos || end == pos_) {
            fail();
            return {};
        }
        std::string name(s_.substr(pos_, end - pos_));
        pos_ = end + 1;
        remember(names_, name);
        return name;
    }

    // "?1?" or "?BN@?" in front of the symbol that a local static lives in.
    bool localScopeAhead() const
    {
        if (peek() != '?') {
            return false;
        }
        if ((peek(1) >= '0' && peek(1) <= '9') || peek(1) == '@') {
            return peek(2) == '?';
        }
        if (peek(1) < 'B' || peek(1) > 'P') {
            return false;
        }
        std::size_t ahead = 2;
        while (peek(ahead) >= 'A' && peek(ahead) <= 'P') {
            ++ahead;
        }
        return peek(ahead) == '@' && peek(ahead + 1) == '?';
    }

    // One enclosing scope, or the name of a type.
    std::string fragment()
    {
        const Depth depth(*this);
        if (failed_) {
            return {};
        }
        if (peek() >= '0' && peek() <= '9') {
            return recall(names_);
        }
        if (consume("?$")) {
            return templateName(true);
        }
        if (consume("?A")) {
            const std::size_t end = s_.find('@', pos_);
            if (end == std::string_view::npos) {
                fail();
                return {};
            }
            pos_ = end + 1;
            return "`anonymous namespace'";
        }
        if (localScopeAhead()) {
            ++pos_;
            const std::int64_t n = requiredNumber();
            if (!consume('?')) {
                fail();
            }
            // The enclosing function shares this symbol's back-references.
            const std::string outer = symbol();
            return "`" + outer + "'::`" + std::to_string(n) + "'";
        }
        if (peek() == '?') {
            fail();
            return {};
        }
        return simpleName();
    }

    // After "?$": a name and its arguments up to '@'. As a scope or a type it
    // can be referred back to; as the symbol's own name it cannot.
    std::string templateName(bool memorable)
    {
        // Template arguments have back-references of their own.
        auto outerNames = std::exchange(names_, {});
        auto outerTypes = std::exchange(types_, {});
        std::string name;
        if (consume('?')) {
            name = operatorName();
        } else {
            name = simpleName();
        }
        std::string args;
        while (!failed_ && !consume('@')) {
            if (atEnd()) {
                fail();
                break;
            }
            const std::optional<std::string> arg = templateArgument();
            if (arg) {
                args += (args.empty() ? "" : ", ") + *arg;
            }
        }
        names_ = std::move(outerNames);
        types_ = std::move(outerTypes);
        std::string text = name + "<" + args + (args.ends_with('>') ? " >" : ">");
        if (memorable) {
            remember(names_, text);
        }
        return text;
    }

    // nullopt for the markers of an empty parameter pack.
    std::optional<std::string> templateArgument()
    {
        if (consume("$$V") || consume("$$Z") || consume("$S")) {
            return std::nullopt;
        }
        if (consume("$0")) {
            return std::to_string(requiredNumber());
        }
        if (consume("$$C")) {
            const unsigned quals = qualifiers();
            Type t = type();
            t.quals |= quals;
            return t.str();
        }
        return type().str();
    }

    std::string operatorName()
    {
        for (const Special& sp : specials) {
            if (consume(sp.code)) {
                return std::string(sp.text);
            }
        }
        fail();
        return {};
    }

    struct Scopes {
        std::string prefix; // "outer::inner::"
        std::string innermost;
    };

    // The enclosing scopes up to "@", innermost first in the mangling.
    Scopes scopes()
    {
        Scopes found;
        while (!failed_ && !consume('@')) {
            if (atEnd()) {
                fail();
                break;
            }
            std::string part = fragment();
            if (found.prefix.empty()) {
                found.innermost = part;
            }
            found.prefix.insert(0, part + "::");
        }
        return found;
    }

    std::string qualifiedName()
    {
        std::string name = fragment();
        return scopes().prefix + name;
    }

    void pointerModifiers()
    {
        while (consume('E') || consume('I') || consume('F')) {
        }
    }

    std::string_view callingConvention()
    {
        switch (next()) {
        case 'A':
        case 'B':
            return "__cdecl";
        case 'C':
        case 'D':
            return "__pascal";
        case 'E':
        case 'F':
            return "__thiscall";
        case 'G':
        case 'H':
            return "__stdcall";
        case 'I':
        case 'J':
            return "__fastcall";
        case 'M':
        case 'N':
            return "__clrcall";
        case 'Q':
            return "__vectorcall";
        default:
            fail();
            return {};
        }
    }

    // "(int, char)"; "(void)" when there are none.
    std::string parameterList()
    {
        if (consume('X')) {
            return "(void)";
        }
        std::string text;
        while (!failed_) {
            if (consume('@')) {
                break;
            }
            if (consume('Z')) {
                text += (text.empty() ? "" : ", ") + std::string("...");
                break;
            }
            if (atEnd()) {
                fail();
                break;
            }
            text += (text.empty() ? "" : ", ") + parameterType().str();
        }
        return "(" + text + ")";
    }

    // A parameter: back-references allowed, and longer types remembered for
    // them.
    Type parameterType()
    {
        if (peek() >= '0' && peek() <= '9') {
            return recall(types_);
        }
        const std::size_t start = pos_;
        Type t = type();
        if (!failed_ && pos_ - start > 1 && types_.size() < 10) {
            types_.push_back(t);
        }
        return t;
    }

    // After the '6' of a function pointer or the "$$A6" of a function type:
    // calling convention, result, parameters and the empty throw list.
    struct Signature {
        std::string_view convention;
        Type result;
        std::string params;
    };

    Signature signature()
    {
        Signature sig;
        sig.convention = callingConvention();
        sig.result = returnType();
        sig.params = parameterList();
        if (!consume('Z')) {
            fail();
        }
        return sig;
    }

    Type returnType()
    {
        unsigned quals = 0;
        if (consume('?')) {
            quals = qualifiers(); // a class returned by value may be const
        }
        Type t = type();
        t.quals |= quals;
        return t;
    }

    // What a pointer or reference (op: "*", "&", "&&") points to.
    Type pointerTo(std::string_view op, unsigned selfQuals)
    {
        pointerModifiers();
        if (consume('6')) {
            const Signature sig = signature();
            Type t = Type::of(sig.result.str() + " (" + std::string(sig.convention) + " " +
                                  std::string(op),
                              ")" + sig.params);
            t.quals = selfQuals;
            return t;
        }
        const unsigned cv = qualifiers();
        Type pointee = type();
        pointee.quals |= cv;
        Type t;
        t.pointeeAt = pointee.head.size();
        t.pointeeQuals = pointee.quals;
        t.quals = selfQuals;
        if (pointee.tail.empty()) {
            t.head = pointee.headText() + " " + std::string(op);
        } else {
            t.head = pointee.headText() + " (" + std::string(op);
            t.tail = ")" + pointee.tail;
        }
        return t;
    }

    // "Y": an array, its rank, each bound, then the element type.
    Type array()
    {
        const std::int64_t rank = requiredNumber();
        if (rank <= 0) {
            fail();
            return {};
        }
        std::string bounds;
        for (std::int64_t i = 0; i < rank && !failed_; ++i) {
            // Appended piece by piece: g++ 12 takes "[" + string for an
            // overlapping copy.
            bounds += '[';
            bounds += std::to_string(requiredNumber());
            bounds += ']';
        }
        const Type element = type();
        if (!element.tail.empty()) {
            fail(); // arrays of functions or of arrays are not mangled so
            return {};
        }
        return Type::of(element.headText(), bounds);
    }

    Type type()
    {
        const Depth depth(*this);
        if (failed_ || atEnd()) {
            fail();
            return {};
        }
        const char c = s_[pos_];
        for (const Basic& b : basics) {
            if (c == b.code) {
                ++pos_;
                return Type::of(std::string(b.name));
            }
        }
        if (c == '_') {
            for (const Basic& b : underscored) {
                if (peek(1) == b.code) {
                    pos_ += 2;
                    return Type::of(std::string(b.name));
                }
            }
            fail();
            return {};
        }
        if (consume("$$T")) {
            return Type::of("std::nullptr_t");
        }
        if (consume("$$Q")) {
            return pointerTo("&&", 0);
        }
        if (consume("$$A6")) {
            const Signature sig = signature();
            return Type::of(sig.result.str() + " " + std::string(sig.convention) + sig.params);
        }
        if (consume("W4")) {
            return Type::of("enum " + qualifiedName());
        }
        switch (c) {
        case 'T':
            ++pos_;
            return Type::of("union " + qualifiedName());
        case 'U':
            ++pos_;
            return Type::of("struct " + qualifiedName());
        case 'V':
            ++pos_;
            return Type::of("class " + qualifiedName());
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            ++pos_;
            return pointerTo("*", static_cast<unsigned>(c - 'P'));
        case 'A':
        case 'B':
            ++pos_;
            return pointerTo("&", 0);
        case 'Y':
            ++pos_;
            return array();
        default:
            fail();
            return {};
        }
    }

    std::string symbol()
    {
        if (!consume('?')) {
            fail();
            return {};
        }
        if (consume("?_R0")) {
            // A type descriptor is named after its type alone.
            const Type t = returnType();
            if (!consume("@8")) {
                fail();
            }
            return t.str() + " `RTTI Type Descriptor'";
        }
        Leaf leaf = Leaf::plain;
        std::string name;
        if (consume("?$")) {
            name = templateName(false);
        } else if (consume('?')) {
            if (consume('0')) {
                leaf = Leaf::constructor;
            } else if (consume('1')) {
                leaf = Leaf::destructor;
            } else if (consume('B')) {
                leaf = Leaf::conversion;
                name = "operator";
            } else if (consume("_R1")) {
                leaf = Leaf::untyped;
                name = "`RTTI Base Class Descriptor at (";
                for (int i = 0; i < 4; ++i) {
                    name += (i == 0 ? "" : ", ") + std::to_string(requiredNumber());
                }
                name += ")'";
            } else if (consume("_R2")) {
                leaf = Leaf::untyped;
                name = "`RTTI Base Class Array'";
            } else if (consume("_R3")) {
                leaf = Leaf::untyped;
                name = "`RTTI Class Hierarchy Descriptor'";
            } else {
                name = operatorName();
            }
        } else if (peek() >= '0' && peek() <= '9') {
            name = recall(names_);
        } else {
            name = simpleName();
        }
        const Scopes outer = scopes();
        if (leaf == Leaf::constructor || leaf == Leaf::destructor) {
            // Named after their class, the innermost scope.
            if (outer.innermost.empty()) {
                fail();
            }
            name = (leaf == Leaf::destructor ? "~" : "") + outer.innermost;
        }
        if (failed_) {
            return {};
        }
        name.insert(0, outer.prefix);
        return encoding(name, leaf);
    }

    std::string variable(const std::string& name, char storage)
    {
        static constexpr std::array<std::string_view, 5> access = {
            "private: static ", "protected: static ", "public: static ", "", ""};
        Type t = type();
        pointerModifiers();
        const unsigned trailing = qualifiers();
        if (t.pointeeAt) {
            const std::size_t oldLength = cvText(t.pointeeQuals).size();
            t.head.replace(*t.pointeeAt, oldLength, cvText(t.pointeeQuals | trailing));
        } else {
            t.quals |= trailing;
        }
        const std::string typeText = t.headText();
        const bool tight = !typeText.empty() && (typeText.back() == '*' || typeText.back() == '&');
        return std::string(access[static_cast<std::size_t>(storage - '0')]) + typeText +
               (tight ? "" : " ") + name + t.tail;
    }

    // "const A::`vftable'", with "{for `B'}" when A has several.
    std::string table(const std::string& name)
    {
        const unsigned quals = qualifiers();
        std::string text =
            std::string(cvText(quals).substr(quals == 0 ? 0 : 1)) + (quals == 0 ? "" : " ") + name;
        if (!consume('@')) {
            text += "{for `" + qualifiedName() + "'}";
            if (!consume('@')) {
                fail();
            }
        }
        return text;
    }

    std::string encoding(std::string name, Leaf leaf)
    {
        const char c = next();
        if (leaf == Leaf::untyped) {
            if (c != '8') {
                fail();
            }
            return name;
        }
        if (c >= '0' && c <= '4') {
            return variable(name, c);
        }
        if (c == '6' || c == '7') {
            return table(name);
        }
        std::string prefix;
        std::string thisQualifiers;
        if (c == 'Y' || c == 'Z') {
            // a free function
        } else if (c >= 'A' && c <= 'V') {
            static constexpr std::array<std::string_view, 3> access = {
                "private: ", "protected: ", "public: "};
            const int index = c - 'A';
            const int kind = (index % 8) / 2;
            if (kind == 3) {
                fail(); // adjustor thunks
                return {};
            }
            prefix =
                std::string(access[static_cast<std::size_t>(index / 8)]) + (kind == 1   ? "static "
                                                                            : kind == 2 ? "virtual "
                                                                                        : "");
            if (kind != 1) {
                pointerModifiers();
                thisQualifiers = cvText(qualifiers());
            }
        } else {
            fail();
            return {};
        }
        const std::string_view convention = callingConvention();
        std::string resultHead;
        std::string resultTail;
        if (consume('@')) {
            if (leaf != Leaf::constructor && leaf != Leaf::destructor) {
                fail();
            }
        } else {
            const Type r = returnType();
            if (leaf == Leaf::conversion) {
                name += " " + r.str();
            }
            // A returned function pointer wraps the function's own declarator.
            resultHead = r.headText() + " ";
            resultTail = r.tail;
        }
        const std::string params = parameterList();
        if (!consume('Z')) {
            fail();
        }
        return prefix + resultHead + std::string(convention) + " " + name + params +
               thisQualifiers + resultTail;
    }

    std::vector<std::string> names_;
    std::vector<Type> types_;
    std::size_t copied_ = 0;
};

} // namespace

std::optional<std::string> demangleMicrosoft(std::string_view name)
{
    if (!name.starts_with("?")) {
        return std::nullopt;
    }
    return Microsoft(name).run();
}

} // namespace tdump
