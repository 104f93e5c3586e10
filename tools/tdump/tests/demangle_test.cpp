// Names taken from real objects (MinGW g++ and clang for the Microsoft ABI);
// the expected texts are what GNU c++filt and llvm-undname print for them.

#include <gtest/gtest.h>

#include <string>

#include "demangle.h"

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

TEST(MicrosoftDemangler, RefusesWhatItCannotReadWhole)
{
    for (const char* name :
         {"?", "?f@@", "?f@@YA", "?f@@YAXH", "??_R0?AUA@@@8", "?f@@YAX9@Z", "?f@@3HAjunk"}) {
        EXPECT_FALSE(demangleMicrosoft(name).has_value()) << name;
    }
}

} // namespace
} // namespace tdump::test
