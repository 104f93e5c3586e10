// Microsoft C++ name decoration ("?name@scope@@..."), as far as functions,
// variables, vtables and templates with type or integer arguments go. The
// spelling follows the Microsoft tools' ("int __cdecl f(char const *)").

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "demangle.h"
#include "mangled_reader.h"

namespace tdump {
namespace {

constexpr int maxDepth = 128;
constexpr std::size_t maxOutput = std::size_t{64} * 1024;

// A type in two halves, so a function pointer can take its declarator:
// "int (__cdecl *" + ")(int)".
struct Type {
    std::string head;
    std::string tail;
    std::string str() const { return head + tail; }
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
    void remember(std::vector<std::string>& list, const std::string& text)
    {
        if (list.size() < 10 && std::find(list.begin(), list.end(), text) == list.end()) {
            list.push_back(text);
        }
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
                if (++digits > 16) {
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

    // One part of a qualified name.
    std::string fragment()
    {
        const Depth depth(*this);
        if (failed_) {
            return {};
        }
        if (peek() >= '0' && peek() <= '9') {
            const auto index = static_cast<std::size_t>(s_[pos_++] - '0');
            if (index >= names_.size()) {
                fail();
                return {};
            }
            return names_[index];
        }
        if (consume("?$")) {
            return templateName();
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
        if (peek() == '?') {
            fail(); // local scopes and the like are not decoded
            return {};
        }
        return simpleName();
    }

    std::string templateName()
    {
        // Template arguments have back-references of their own.
        auto outerNames = std::move(names_);
        auto outerTypes = std::move(types_);
        names_.clear();
        types_.clear();
        std::string name = simpleName();
        std::string args;
        while (!failed_ && !consume('@')) {
            if (pos_ >= s_.size()) {
                fail();
                break;
            }
            std::string arg;
            if (consume("$0")) {
                const auto n = number();
                if (!n) {
                    fail();
                }
                arg = std::to_string(n.value_or(0));
            } else {
                arg = parameterType().str();
            }
            args += (args.empty() ? "" : ", ") + arg;
        }
        names_ = std::move(outerNames);
        types_ = std::move(outerTypes);
        std::string text = name + "<" + args + (args.ends_with('>') ? " >" : ">");
        remember(names_, text);
        return text;
    }

    // The enclosing scopes up to "@", innermost first in the mangling.
    std::string scopes(std::string name)
    {
        while (!failed_ && !consume('@')) {
            if (pos_ >= s_.size()) {
                fail();
                break;
            }
            std::string outer = fragment();
            outer += "::";
            name.insert(0, outer);
        }
        return name;
    }

    std::string qualifiedName() { return scopes(fragment()); }

    static std::string_view cvText(char c)
    {
        switch (c) {
        case 'B':
            return " const";
        case 'C':
            return " volatile";
        case 'D':
            return " const volatile";
        default:
            return "";
        }
    }

    void pointerModifiers()
    {
        while (consume('E') || consume('I') || consume('F')) {
        }
    }

    std::string_view callingConvention()
    {
        switch (s_.size() > pos_ ? s_[pos_++] : '\0') {
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
            if (pos_ >= s_.size()) {
                fail();
                break;
            }
            text += (text.empty() ? "" : ", ") + parameterType().str();
        }
        return "(" + text + ")";
    }

    // A parameter or template argument: back-references allowed, and longer
    // types remembered for them.
    Type parameterType()
    {
        if (peek() >= '0' && peek() <= '9') {
            const auto index = static_cast<std::size_t>(s_[pos_++] - '0');
            if (index >= types_.size()) {
                fail();
                return {};
            }
            return types_[index];
        }
        const std::size_t start = pos_;
        Type t = type();
        if (!failed_ && pos_ - start > 1 && types_.size() < 10) {
            types_.push_back(t);
        }
        return t;
    }

    Type functionPointer(std::string_view declarator)
    {
        const std::string_view convention = callingConvention();
        const Type result = returnType();
        const std::string params = parameterList();
        if (!consume('Z')) {
            fail();
        }
        return {result.str() + " (" + std::string(convention) + " " + std::string(declarator),
                ")" + params};
    }

    Type returnType()
    {
        if (consume('?')) {
            ++pos_; // the storage class of a value returned by value
        }
        return type();
    }

    Type type()
    {
        const Depth depth(*this);
        if (failed_ || pos_ >= s_.size()) {
            fail();
            return {};
        }
        const char c = s_[pos_];
        for (const Basic& b : basics) {
            if (c == b.code) {
                ++pos_;
                return {std::string(b.name), {}};
            }
        }
        if (c == '_') {
            for (const Basic& b : underscored) {
                if (peek(1) == b.code) {
                    pos_ += 2;
                    return {std::string(b.name), {}};
                }
            }
            fail();
            return {};
        }
        if (consume("$$T")) {
            return {"std::nullptr_t", {}};
        }
        if (consume("$$Q")) {
            return reference("&&");
        }
        switch (c) {
        case 'T':
            ++pos_;
            return {"union " + qualifiedName(), {}};
        case 'U':
            ++pos_;
            return {"struct " + qualifiedName(), {}};
        case 'V':
            ++pos_;
            return {"class " + qualifiedName(), {}};
        case 'W':
            pos_ += 2; // W4: an enum with int as its underlying type
            return {"enum " + qualifiedName(), {}};
        case 'P':
        case 'Q':
        case 'R':
        case 'S': {
            ++pos_;
            const std::string_view self = c == 'Q'   ? " const"
                                          : c == 'R' ? " volatile"
                                          : c == 'S' ? " const volatile"
                                                     : "";
            pointerModifiers();
            if (consume('6')) {
                return functionPointer("*" + std::string(self));
            }
            const std::string_view cv = cvText(s_.size() > pos_ ? s_[pos_++] : '\0');
            const Type pointee = type();
            return {pointee.str() + std::string(cv) + " *" + std::string(self), {}};
        }
        case 'A':
        case 'B':
            ++pos_;
            return reference("&");
        default:
            fail();
            return {};
        }
    }

    Type reference(std::string_view op)
    {
        pointerModifiers();
        if (consume('6')) {
            return functionPointer(op);
        }
        const std::string_view cv = cvText(s_.size() > pos_ ? s_[pos_++] : '\0');
        const Type target = type();
        return {target.str() + std::string(cv) + " " + std::string(op), {}};
    }

    std::string symbol()
    {
        if (!consume('?')) {
            fail();
            return {};
        }
        std::string name;
        bool structor = false;
        if (consume("?$")) {
            name = scopes(templateName());
        } else if (peek() == '?' && (peek(1) == '0' || peek(1) == '1')) {
            // Constructors and destructors are named after their class.
            const bool destructor = peek(1) == '1';
            pos_ += 2;
            const std::size_t mark = pos_;
            const std::string cls = fragment();
            pos_ = mark;
            names_.clear();
            name = scopes(std::string(destructor ? "~" : "") + cls);
            structor = true;
        } else if (consume('?')) {
            std::string special;
            for (const Special& sp : specials) {
                if (consume(sp.code)) {
                    special = sp.text;
                    break;
                }
            }
            if (special.empty()) {
                fail();
                return {};
            }
            name = scopes(special);
        } else {
            name = qualifiedName();
        }
        if (failed_) {
            return {};
        }
        return encoding(name, structor);
    }

    std::string encoding(const std::string& name, bool structor)
    {
        const char c = s_.size() > pos_ ? s_[pos_++] : '\0';
        if (c >= '0' && c <= '4') {
            static constexpr std::array<std::string_view, 5> access = {
                "private: static ", "protected: static ", "public: static ", "", ""};
            const Type t = type();
            pointerModifiers();
            ++pos_; // the variable's own storage class
            const std::string typeText = t.head;
            const bool tight =
                !typeText.empty() && (typeText.back() == '*' || typeText.back() == '&');
            return std::string(access[static_cast<std::size_t>(c - '0')]) + typeText +
                   (tight ? "" : " ") + name + t.tail;
        }
        if (c == '6' || c == '7') {
            const std::string_view cv = cvText(s_.size() > pos_ ? s_[pos_++] : '\0');
            if (!consume('@')) {
                fail();
            }
            return std::string(cv.substr(cv.empty() ? 0 : 1)) + (cv.empty() ? "" : " ") + name;
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
                thisQualifiers = cvText(s_.size() > pos_ ? s_[pos_++] : '\0');
            }
        } else {
            fail();
            return {};
        }
        const std::string_view convention = callingConvention();
        std::string result;
        if (!consume('@')) {
            const Type r = returnType();
            result = r.str() + " ";
        } else if (!structor) {
            fail();
        }
        const std::string params = parameterList();
        if (!consume('Z')) {
            fail();
        }
        return prefix + result + std::string(convention) + " " + name + params + thisQualifiers;
    }

    std::vector<std::string> names_;
    std::vector<Type> types_;
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
