// Names taken from real objects (MinGW g++ and clang for the Microsoft ABI);
// the expected texts are what GNU c++filt and llvm-undname print for them.

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>

#include "demangle/demangle.h"

namespace tdump::test {
namespace {

struct Case {
    const char* mangled;
    const char* plain;
};

constexpr Case itaniumCases[] = {
    // nested names, constructors, destructors, operators, cv and ref qualifiers
    {"_ZN5outer5inner6WidgetC2Ev", "outer::inner::Widget::Widget()"},
    {"_ZN5outer5inner6WidgetD0Ev", "outer::inner::Widget::~Widget()"},
    {"_ZN5outer5inner6WidgetC2EOS1_", "outer::inner::Widget::Widget(outer::inner::Widget&&)"},
    {"_ZN5outer5inner6WidgetaSERKS1_",
     "outer::inner::Widget::operator=(outer::inner::Widget const&)"},
    {"_ZNK5outer5inner6WidgeteqERKS1_",
     "outer::inner::Widget::operator==(outer::inner::Widget const&) const"},
    {"_ZNR5outer5inner6WidgetclEi", "outer::inner::Widget::operator()(int) &"},
    {"_ZNK5outer5inner6WidgetcvbEv", "outer::inner::Widget::operator bool() const"},
    {"_ZNVK5outer5inner6Widget6methodEv", "outer::inner::Widget::method() const volatile"},
    {"_ZN5outer5inner6Widget5countE", "outer::inner::Widget::count"},
    {"_ZlsRSoRKN5outer5inner6WidgetE",
     "operator<<(std::basic_ostream<char, std::char_traits<char> >&, outer::inner::Widget const&)"},
    // templates, return types, substitutions, standard abbreviations
    {"_ZNK5outer5inner6Widget7convertIdEET_S3_",
     "double outer::inner::Widget::convert<double>(double) const"},
    {"_Z2f1RSt6vectorIiSaIiEERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEPSt3mapIS8_"
     "iSt4lessIS8_ESaISt4pairIS9_iEEE",
     "f1(std::vector<int, std::allocator<int> >&, std::__cxx11::basic_string<char, "
     "std::char_traits<char>, "
     "std::allocator<char> > const&, std::map<std::__cxx11::basic_string<char, "
     "std::char_traits<char>, "
     "std::allocator<char> >, int, std::less<std::__cxx11::basic_string<char, "
     "std::char_traits<char>, "
     "std::allocator<char> > >, std::allocator<std::pair<std::__cxx11::basic_string<char, "
     "std::char_traits<char>, std::allocator<char> > const, int> > >*)"},
    {"_ZNSt6vectorIiSaIiEEC2Ev", "std::vector<int, std::allocator<int> >::vector()"},
    {"_ZNSsC1Ev",
     "std::basic_string<char, std::char_traits<char>, std::allocator<char> >::basic_string()"},
    {"_Z1fIiEvT_S0_", "void f<int>(int, int)"},
    {"_Z1fPKcS0_", "f(char const*, char const*)"},
    {"_Z8variadicIJiRPKcEEvDpOT_", "void variadic<int, char const*&>(int&&, char const*&)"},
    {"_Z1fIiJEEvv", "void f<int>()"},
    {"_Z7nontypeILin5EEiv", "int nontype<-5>()"},
    {"_Z8booltypeILb1EEiv", "int booltype<true>()"},
    {"_Z6ultypeILm7EEiv", "int ultype<7ul>()"},
    {"_Z1fILc65EEvv", "void f<(char)65>()"},
    {"_ZN4TmplISt4pairIilEE1mES1_", "Tmpl<std::pair<int, long> >::m(std::pair<int, long>)"},
    {"_ZN4TmplIcE1sIsEET_cS2_", "short Tmpl<char>::s<short>(char, short)"},
    // function, array and member pointers
    {"_Z2f2PFicdEMN5outer5inner6WidgetEFvvEMS3_i",
     "f2(int (*)(char, double), void (outer::inner::Widget::*)(), int outer::inner::Widget::*)"},
    {"_Z2f8PFvPFviEEPFPFidEcE", "f8(void (*)(void (*)(int)), int (*(*)(char))(double))"},
    {"_ZNSolsEPFRSoS_E",
     "std::basic_ostream<char, std::char_traits<char> >::operator<<(std::basic_ostream<char, "
     "std::char_traits<char> >& (*)(std::basic_ostream<char, std::char_traits<char> >&))"},
    {"_Z1fPA3_i", "f(int (*) [3])"},
    {"_Z1fA3_A4_i", "f(int [3][4])"},
    {"_Z1fM1AKFvvE", "f(void (A::*)() const)"},
    {"_Z2f9M1SiS_", "f9(int S::*, S)"},
    {"_Z2f5hawDsDienybz",
     "f5(unsigned char, signed char, wchar_t, char16_t, char32_t, long double, __int128, "
     "unsigned long long, bool, ...)"},
    {"_Z2f6PVKiPKPiOi", "f6(int const volatile*, int* const*, int&&)"},
    {"_Z1fDv4_f", "f(float __vector(4))"},
    {"_Z1fDn", "f(decltype(nullptr))"},
    // local names, lambdas, anonymous namespaces, ABI tags, clones
    {"_ZZ4mainENKUlvE_clEv", "main::{lambda()#1}::operator()() const"},
    {"_ZZ12static_localvE7counter", "static_local()::counter"},
    {"_ZN12_GLOBAL__N_16hiddenEi", "(anonymous namespace)::hidden(int)"},
    {"_Z3fooB5cxx11v", "foo[abi:cxx11]()"},
    {"_Z1fv.constprop.0.isra.0", "f() [clone .constprop.0] [clone .isra.0]"},
    // special names
    {"_ZTVN5outer5inner6WidgetE", "vtable for outer::inner::Widget"},
    {"_ZTIN5outer5inner6WidgetE", "typeinfo for outer::inner::Widget"},
    {"_ZTSN5outer5inner6WidgetE", "typeinfo name for outer::inner::Widget"},
    {"_ZThn8_N1A1fEv", "non-virtual thunk to A::f()"},
    {"_ZTv0_n24_N1A1fEv", "virtual thunk to A::f()"},
    {"_ZGVZ4mainE1x", "guard variable for main::x"},
    {"_GLOBAL__sub_I__Z3foov", "global constructors keyed to foo()"},
};

TEST(ItaniumDemangler, MatchesGnuCxxFilt)
{
    for (const Case& c : itaniumCases) {
        EXPECT_EQ(demangleItanium(c.mangled).value_or("(not demangled)"), c.plain) << c.mangled;
    }
}

TEST(ItaniumDemangler, RefusesWhatItCannotReadWhole)
{
    for (const char* name :
         {"_Z", "_Z1", "_Z3fo", "_ZN1a", "_Z1fS_", "_Z1fT_", "_Z1fv junk", "_Z1fIiEvT0_",
          "_ZN1a1bC1Ev_", "main",
          "_ZSt10from_charsIiENSt9enable_ifIXsrSt5__or_IJS1_EE5valueEiE4typeEv"}) {
        EXPECT_FALSE(demangleItanium(name).has_value()) << name;
    }
}

TEST(ItaniumDemangler, BoundsDepthAndCopiedText)
{
    // Nesting deeper than the limit, and substitutions that would double
    // the text at every step, both end in the raw name quickly.
    std::string deep = "_Z1f";
    for (int i = 0; i < 5000; ++i) {
        deep += 'P';
    }
    deep += 'i';
    EXPECT_FALSE(demangleItanium(deep).has_value());
    std::string doubling = "_Z1fSt4pairIiiE";
    for (int i = 0; i < 40; ++i) {
        doubling += "St4pairIS" + std::to_string(i) + "_S" + std::to_string(i) + "_E";
    }
    EXPECT_FALSE(demangleItanium(doubling).has_value());
}

TEST(DisplayName, KeepsPrefixesAndFallsBackToTheRawName)
{
    EXPECT_EQ(displayName("__imp__ZN3foo3barEv", true), "__imp_foo::bar()");
    EXPECT_EQ(displayName(".refptr._ZN3foo3barEv", true), ".refptr.foo::bar()");
    EXPECT_EQ(displayName("__Z3bazi", true), "baz(int)");
    EXPECT_EQ(displayName("_Z3bazi", false), "_Z3bazi");
    EXPECT_EQ(displayName("_Z3ba", true), "_Z3ba");
    EXPECT_EQ(displayName("GetLastError", true), "GetLastError");
}

constexpr Case microsoftCases[] = {
    {"??$h@H@ns@@YAHH@Z", "int __cdecl ns::h<int>(int)"},
    {"??0A@@QEAA@XZ", "public: __cdecl A::A(void)"},
    {"??1A@@UEAA@XZ", "public: virtual __cdecl A::~A(void)"},
    {"??3@YAXPEAX@Z", "void __cdecl operator delete(void *)"},
    {"??_7A@@6B@", "const A::`vftable'"},
    {"??_GA@@UEAAPEAXI@Z",
     "public: virtual void * __cdecl A::`scalar deleting dtor'(unsigned int)"},
    {"?f@A@@QEBAHH@Z", "public: int __cdecl A::f(int) const"},
    {"?fp@@3P6AHH@ZEA", "int (__cdecl *fp)(int)"},
    {"?g@@YAPEAHPEBDAEAHPEAUA@@AEAU1@_K@Z",
     "int * __cdecl g(char const *, int &, struct A *, struct A &, unsigned __int64)"},
    {"?s@A@@2HA", "public: static int A::s"},
    {"?f@@YGXH@Z", "void __stdcall f(int)"},
    {"?f@?A0x1234@@YAXXZ", "void __cdecl `anonymous namespace'::f(void)"},
    {"??4A@@QEAAAEAU0@AEBU0@@Z", "public: struct A & __cdecl A::operator=(struct A const &)"},
    {"?f@@YAXP6AHH@Z@Z", "void __cdecl f(int (__cdecl *)(int))"},
    {"?v@@3PEBDEB", "char const *v"},
    {"?h@@YAXVB@n@@W4E@@@Z", "void __cdecl h(class n::B, enum E)"},
    {"?p@C@@IEAAXXZ", "protected: void __cdecl C::p(void)"},
    {"??H@YA?AVV@@AEBV0@0@Z", "class V __cdecl operator+(class V const &, class V const &)"},
    {"??$g@H$0BA@@@YAXXZ", "void __cdecl g<int, 16>(void)"},
    {"?w@@YA_NPEB_W@Z", "bool __cdecl w(wchar_t const *)"},
};

TEST(MicrosoftDemangler, MatchesLlvmUndname)
{
    for (const Case& c : microsoftCases) {
        EXPECT_EQ(demangleMicrosoft(c.mangled).value_or("(not demangled)"), c.plain) << c.mangled;
    }
}

// The words must be llvm-undname's; the spacing is the Microsoft undname's
// ("char * &", "> >"), so runs of blanks, blanks beside '*' and '&' and
// blanks between two '>' are not compared.
std::string spacingAside(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != ' ') {
            out += text[i];
            continue;
        }
        while (i + 1 < text.size() && text[i + 1] == ' ') {
            ++i;
        }
        const char before = out.empty() ? '*' : out.back();
        const char after = i + 1 < text.size() ? text[i + 1] : '*';
        if (before != '*' && before != '&' && after != '*' && after != '&' &&
            !(before == '>' && after == '>')) {
            out += ' ';
        }
    }
    return out;
}

void expectAsLlvmUndname(std::span<const Case> cases)
{
    for (const Case& c : cases) {
        EXPECT_EQ(spacingAside(demangleMicrosoft(c.mangled).value_or("(not demangled)")),
                  spacingAside(c.plain))
            << c.mangled;
    }
}

TEST(MicrosoftDemangler, SpacesPointersAndTemplatesAsMicrosoftUndname)
{
    EXPECT_EQ(demangleMicrosoft("?pword@ios_base@std@@QEAAAEAPEAXH@Z"),
              "public: void * & __cdecl std::ios_base::pword(int)");
    EXPECT_EQ(demangleMicrosoft("?x_statebuf@ios@@0QAJA"),
              "private: static long * const ios::x_statebuf");
    EXPECT_EQ(demangleMicrosoft("?f@@YAXV?$a@V?$b@H@@@@@Z"),
              "void __cdecl f(class a<class b<int> >)");
}

// Most of the names below are exported by Wine's msvcp*.dll and msvcr*.dll;
// the rest are short forms of the same kinds.
TEST(MicrosoftDemangler, TemplateFunctionNamesAreNotBackReferences)
{
    // Only the function's scopes are numbered: "0" is std, not abs<float>.
    constexpr Case cases[] = {
        {"??$abs@M@std@@YAMAEBV?$complex@M@0@@Z",
         "float __cdecl std::abs<float>(class std::complex<float> const &)"},
        {"??$conj@N@std@@YA?AV?$complex@N@0@AEBV10@@Z",
         "class std::complex<double> __cdecl std::conj<double>(class std::complex<double> const "
         "&)"},
        // "1" is then the argument's own template, entered before its scope.
        {"??$_Fabs@M@std@@YAMAEBV?$complex@M@1@PEAH@Z",
         "float __cdecl std::_Fabs<float>(class complex<float>::complex<float> const &, int *)"},
        {"??$_Getvals@_W@?$time_get@DV?$istreambuf_iterator@DU?$char_traits@D@std@@@std@@@std@@"
         "IEAAX_WAEBV_Locinfo@1@@Z",
         "protected: void __cdecl std::time_get<char, class std::istreambuf_iterator<char, struct "
         "std::char_traits<char>>>::_Getvals<wchar_t>(wchar_t, class std::_Locinfo const &)"},
    };
    expectAsLlvmUndname(cases);
    // Wine also exports these with every index one too high; "2" is then
    // past the end of the table.
    EXPECT_FALSE(demangleMicrosoft("??$conj@M@std@@YA?AV?$complex@M@1@AEBV21@@Z").has_value());
}

TEST(MicrosoftDemangler, DataQualifiersGoWithTheTypeOrThePointee)
{
    constexpr Case cases[] = {
        {"?npos@?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@std@@2_KB",
         "public: static unsigned __int64 const std::basic_string<char, struct "
         "std::char_traits<char>, class std::allocator<char>>::npos"},
        {"?_BADOFF@std@@3_JB", "__int64 const std::_BADOFF"},
        {"?round_style@_Num_base@std@@2W4float_round_style@2@B",
         "public: static enum std::float_round_style const std::_Num_base::round_style"},
        {"?x_statebuf@ios@@0QAJA", "private: static long *const ios::x_statebuf"},
        {"?v@@3PEBDEB", "char const *v"},
        {"?v@@3PEAY01HEB", "int const (*v)[2]"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, PointerQualifiersAreNotRepeated)
{
    constexpr Case cases[] = {
        {"??0bad_cast@@AEAA@PEBQEBD@Z", "private: __cdecl bad_cast::bad_cast(char const *const *)"},
        {"??0exception@@QEAA@AEBQEBDH@Z",
         "public: __cdecl exception::exception(char const *const &, int)"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, ReturnedFunctionPointersWrapTheDeclarator)
{
    constexpr Case cases[] = {
        {"?set_new_handler@@YAP6AXXZP6AXXZ@Z",
         "void (__cdecl * __cdecl set_new_handler(void (__cdecl *)(void)))(void)"},
        {"?_set_se_translator@@YAP6AXIPEAU_EXCEPTION_POINTERS@@@ZP6AXI0@Z@Z",
         "void (__cdecl * __cdecl _set_se_translator(void (__cdecl *)(unsigned int, struct "
         "_EXCEPTION_POINTERS *)))(unsigned int, struct _EXCEPTION_POINTERS *)"},
        {"?_query_new_handler@@YAP6AH_K@ZXZ",
         "int (__cdecl * __cdecl _query_new_handler(void))(unsigned __int64)"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, TemplatedAndConversionOperators)
{
    constexpr Case cases[] = {
        {"??$?5DU?$char_traits@D@std@@@std@@YAAEAV?$basic_istream@DU?$char_traits@D@std@@@0@AEAV10@"
         "AEAD@Z",
         "class std::basic_istream<char, struct std::char_traits<char>> & __cdecl "
         "std::operator>><char, struct std::char_traits<char>>(class std::basic_istream<char, "
         "struct std::char_traits<char>> &, char &)"},
        {"??$?8M@std@@YA_NAEBV?$complex@M@0@0@Z",
         "bool __cdecl std::operator==<float>(class std::complex<float> const &, class "
         "std::complex<float> const &)"},
        {"??Bios@@QEBAPEAXXZ", "public: void * __cdecl ios::operator void *(void) const"},
        {"??Bid@locale@std@@QEAA_KXZ",
         "public: unsigned __int64 __cdecl std::locale::id::operator unsigned __int64(void)"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, VirtualTablesAndRtti)
{
    constexpr Case cases[] = {
        {"??_8fstream@@7Bistream@@@", "const fstream::`vbtable'{for `istream'}"},
        {"??_8?$basic_iostream@DU?$char_traits@D@std@@@std@@7B?$basic_istream@DU?$char_traits@D@"
         "std@@@1@@",
         "const std::basic_iostream<char, struct std::char_traits<char>>::`vbtable'{for "
         "`std::basic_istream<char, struct std::char_traits<char>>'}"},
        {"??_7C@@6BA@@@", "const C::`vftable'{for `A'}"},
        {"??_R0?AUA@@@8", "struct A `RTTI Type Descriptor'"},
        {"??_R1A@?0A@EA@B@@8", "B::`RTTI Base Class Descriptor at (0, -1, 0, 64)'"},
        {"??_R2B@@8", "B::`RTTI Base Class Array'"},
        {"??_R3B@@8", "B::`RTTI Class Hierarchy Descriptor'"},
        {"??_R4B@@6B@", "const B::`RTTI Complete Object Locator'"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, LocalStaticsShareTheEnclosingBackReferences)
{
    constexpr Case cases[] = {
        {"?_C@?1??_Nullstr@?$basic_string@DU?$char_traits@D@std@@V?$allocator@D@2@@std@@CAPEBDXZ@"
         "4DB",
         "char const `private: static char const * __cdecl std::basic_string<char, struct "
         "std::char_traits<char>, class std::allocator<char>>::_Nullstr(void)'::`2'::_C"},
        {"?_R2@?BN@???$_Fabs@M@std@@YAMAEBV?$complex@M@1@PEAH@Z@4MB",
         "float const `float __cdecl std::_Fabs<float>(class std::complex<float> const &, int "
         "*)'::`29'::_R2"},
        // "3" is std, counted after _Src, _Getifld and num_get<...>.
        {"?_Src@?1??_Getifld@?$num_get@DV?$istreambuf_iterator@DU?$char_traits@D@std@@@std@@@std@@"
         "AEBAHPEADAEAV?$istreambuf_iterator@DU?$char_traits@D@std@@@3@1HAEBVlocale@3@@Z@4QBDB",
         "char const *const `private: int __cdecl std::num_get<char, class "
         "std::istreambuf_iterator<char, struct std::char_traits<char>>>::_Getifld(char *, class "
         "std::istreambuf_iterator<char, struct std::char_traits<char>> &, class "
         "std::istreambuf_iterator<char, struct std::char_traits<char>> &, int, class std::locale "
         "const &) const'::`2'::_Src"},
        {"?x@?@??f@@YAXXZ@4HA", "int `void __cdecl f(void)'::`0'::x"},
        {"?x@?1???0A@@QEAA@XZ@4HA", "int `public: __cdecl A::A(void)'::`2'::x"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, ArraysFunctionTypesAndQualifiedArguments)
{
    constexpr Case cases[] = {
        {"?_Current_get@sys@tr2@std@@YAPEADAEAY0BAE@D@Z",
         "char * __cdecl std::tr2::sys::_Current_get(char (&)[260])"},
        {"?f@@YAXPEAY01H@Z", "void __cdecl f(int (*)[2])"},
        {"?f@@YAXAEBY01H@Z", "void __cdecl f(int const (&)[2])"},
        {"?_CallInContext@_ContextCallback@details@Concurrency@@QEBAXV?$function@$$A6AXXZ@std@@_N@"
         "Z",
         "public: void __cdecl Concurrency::details::_ContextCallback::_CallInContext(class "
         "std::function<void __cdecl(void)>, bool) const"},
        {"?f@@YA?BVA@@XZ", "class A const __cdecl f(void)"},
        {"??$f@$$CBH$0?4@@YAXXZ", "void __cdecl f<int const, -5>(void)"},
    };
    expectAsLlvmUndname(cases);
}

TEST(MicrosoftDemangler, RefusesWhatItCannotReadWhole)
{
    for (const char* name :
         {"?", "?f@@", "?f@@YA", "?f@@YAXH", "?f@@YAX9@Z", "?f@@3HAjunk", "??_R0?AUA@@@",
          "??_8fstream@@7Bistream@@", "?x@?1??f@@YAXXZ", "?f@@YAXW0E@@@Z",
          // template arguments have no type back-references
          "??$f@PEAH0@@YAXXZ"}) {
        EXPECT_FALSE(demangleMicrosoft(name).has_value()) << name;
    }
    // Cut anywhere, a name is incomplete.
    const std::string whole = "?_Src@?1??_Getifld@?$num_get@DV?$istreambuf_iterator@DU?$char_"
                              "traits@D@std@@@std@@@std@@AEBAHPEADAEAV?$istreambuf_iterator@DU?$"
                              "char_traits@D@std@@@3@1HAEBVlocale@3@@Z@4QBDB";
    ASSERT_TRUE(demangleMicrosoft(whole).has_value());
    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(demangleMicrosoft(whole.substr(0, length)).has_value()) << length;
    }
}

TEST(MicrosoftDemangler, BoundsDepthAndCopiedText)
{
    std::string deep = "?x@@3";
    for (int i = 0; i < 5000; ++i) {
        deep += "PEA";
    }
    deep += "HA";
    EXPECT_FALSE(demangleMicrosoft(deep).has_value());
    // Local statics nest through whole symbols.
    std::string nested = "?x@@3HA";
    for (int i = 0; i < 200; ++i) {
        nested.insert(0, "?x@?1?");
        nested += "@4HA";
    }
    EXPECT_FALSE(demangleMicrosoft(nested).has_value());
    // Each template repeats the one inside it nine times by back-reference,
    // so the text would grow ninefold a level.
    std::string growing = "?$a@H@";
    for (int i = 0; i < 12; ++i) {
        growing.insert(0, "?$a@V");
        growing += "@V1@V1@V1@V1@V1@V1@V1@V1@@";
    }
    EXPECT_FALSE(demangleMicrosoft("?x@@3V" + growing + "@A").has_value());
}

} // namespace
} // namespace tdump::test
