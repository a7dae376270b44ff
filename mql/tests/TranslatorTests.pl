#!/usr/bin/perl
# The translator stops with the source line on every construct it does not handle, in .mq4 and
# .mq5 alike. A table of small experts: each must fail with its line and message, and a good one
# must translate.
use strict;
use warnings;

my ($translator, $dir, $clang, $root) = @ARGV;
mkdir $dir unless -d $dir;
my $failed = 0;
my $n = 0;
# Each case in both languages: the .mq4 with #property strict on its first line, the .mq5 with
# another property there, so that the lines are the same.
for my $ext ('mq4', 'mq5') {
my $head = $ext eq 'mq4' ? "#property strict\n" : "#property version \"1.00\"\n";
my @cases = (
    # [what, source, expected line, part of the message]
    ['a class', "${head}class T { int a; };\n", 2, "'class' is not handled"],
    ['a struct', "${head}int a;\nstruct S { int b; };\n", 3, "'struct' is not handled"],
    ['a static local', "${head}void F()\n  {\n   static int n = 0;\n  }\n", 4, "'static' is not handled"],
    ['C++ auto', "${head}void F()\n  {\n   auto n = 0;\n  }\n", 4, "'auto' is not handled"],
    ['C++ scope', "${head}void F()\n  {\n   std::string s;\n  }\n", 4, "'std' is not handled"],
    ['C++ arrow', "${head}void F()\n  {\n   int a = b->c;\n  }\n", 4, "'->' is not handled"],
    ['a lambda', "${head}void F()\n  {\n   G([&](int x) { return x; });\n  }\n", 4, 'is not handled'],
    ['nullptr', "${head}int F()\n  {\n   return nullptr == 0;\n  }\n", 4, "'nullptr' is not handled"],
    ['an include', "${head}#include <stdlib.mqh>\n", 2, 'not handled: #include <stdlib.mqh>'],
    ['a macro', "${head}#define TWICE(x) ((x) * 2)\n", 2, 'not handled: #define TWICE'],
    ['extern', "${head}extern int Lots = 1;\n", 2, "'extern' is not handled"],
    ['two arrays dims', "${head}double a[2][3];\n", 2, 'not handled: double a[2][3];'],
    ['two variables', "${head}int a, b;\n", 2, 'not handled: int a, b;'],
    ['an input expression', "${head}input int A = 2 * 3;\n", 2, 'not a literal'],
    ['a color literal', "${head}color c = C'128,128,128';\n", 2, 'a color or datetime literal'],
    ['long long', "${head}long long x;\n", 2, "'long long' is not"],
    ['a wrong OnDeinit', "${head}void OnDeinit()\n  {\n  }\n", 2, 'OnDeinit must be declared void(const int)'],
    ['an open block', "${head}void F()\n  {\n", 4, 'the file ends inside a block'],
    ['an open import', "${head}#import \"a.dll\"\nint F(int a);\n", 4, 'the #import block is not closed'],
    ['a comment hides nothing', "${head}// class T {};\n/* struct */ int a; \"x\";\n", 3, 'not handled: "x";'],
    ['sinput', "${head}sinput int A = 1;\n", 2, "'sinput' is not handled"],
    ['an enum', "${head}enum E { A, B };\n", 2, "'enum' is not handled"],
    ['a template', "${head}template<typename T> T F(T a) { return a; }\n", 2, "'template' is not handled"],
);
if ($ext eq 'mq4') {
    push @cases, ['no strict', "int x;\n", 1, 'must declare #property strict'],
        ['an MQL5 structure', "${head}MqlTradeRequest r;\n", 2, 'not handled: MqlTradeRequest r;'];
} else {
    # MQL5 has no stderror.mqh, and the expert takes nothing from the standard library.
    push @cases, ['stderror.mqh', "${head}#include <stderror.mqh>\n", 2, 'not handled: #include <stderror.mqh>'],
        ['the trade class', "${head}#include <Trade\\Trade.mqh>\n", 2, 'not handled: #include <Trade\\Trade.mqh>'],
        ['a class object', "${head}void F()\n  {\n   CTrade trade;\n   trade.Buy(0.1);\n  }\n", 4, 'CTrade'],
        ['a pointer', "${head}void F()\n  {\n   CTrade *trade = new CTrade();\n  }\n", 4, "'new' is not handled"];
}
for my $case (@cases) {
    my ($what, $source, $line, $message) = @$case;
    $n++;
    my $file = "$dir/Case$n.$ext";
    open(my $out, '>', $file) or die "$file: $!\n";
    print $out $source;
    close $out;
    my $result = `"$^X" "$translator" "$file" "$dir/Case$n.h" 2>&1`;
    my $status = $? >> 8;
    if ($status == 0 || index($result, "Case$n.$ext:$line: error: ") < 0 || index($result, $message) < 0) {
        # A construct the translator passes on must at least fail to compile, at its line.
        if ($status == 0 && $clang && $message eq 'CTrade') {
            my $said = `"$clang" -std=c++20 -fsyntax-only -Wno-pragma-once-outside-header -I"$root" -x c++ "$dir/Case$n.h" 2>&1`;
            if ($? != 0 && index($said, "Case$n.$ext:$line:") >= 0) {
                print "ok: $ext: $what (the compiler stops at its line)\n";
                next;
            }
            $result .= $said;
        }
        print "FAILED: $ext: $what: status $status, said: $result";
        $failed++;
    } else {
        print "ok: $ext: $what\n";
    }
}
# What it handles translates.
my $good = "$dir/Good.$ext";
open(my $out, '>', $good) or die;
print $out "${head}#define N 3\ninput double Lots = 0.1; // lots\ndouble g[N];\nlong big;\n"
    . "int OnInit()\n  {\n   g[0] = Lots; // \"quoted\" {\n   return INIT_SUCCEEDED;\n  }\n"
    . ($ext eq 'mq5' ? "bool Send(MqlTradeRequest &request, ENUM_ORDER_TYPE type)\n  {\n"
       . "   MqlTradeResult result = {};\n   request.type = type;\n"
       . "   return OrderSend(request, result);\n  }\n" : '');
close $out;
my $result = `"$^X" "$translator" "$good" "$dir/Good.h" 2>&1`;
if ($? != 0) {
    print "FAILED: $ext: a good expert: $result";
    $failed++;
} else {
    open(my $in, '<', "$dir/Good.h") or die;
    my $text = do { local $/; <$in> };
    my @parts = ('static constexpr int N = 3;', 'TMqlArray<double> g = TMqlArray<double>(N);',
                 'mql_long big{};', 'int OnInit() override', 'double Lots = 0.1;');
    push @parts, 'namespace mql5 {', 'public TMql5Program', 'TTradeServer5& AServer',
        'bool Send(MqlTradeRequest &request, ENUM_ORDER_TYPE type)' if $ext eq 'mq5';
    for my $part (@parts) {
        if (index($text, $part) < 0) {
            print "FAILED: $ext: a good expert: no '$part' in\n$text";
            $failed++;
        }
    }
    print "ok: $ext: a good expert\n";
}
# "text" + 5 appends in MQL and is pointer arithmetic in C++: the translated expert compiled by
# clang with -Werror=string-plus-int stops there, naming the source line.
if ($clang) {
    my $bad = "$dir/Plus.$ext";
    open(my $plus, '>', $bad) or die;
    print $plus "${head}void OnTick()\n  {\n   Print(\"count \" + 5);\n  }\n";
    close $plus;
    my $ns = $ext eq 'mq4' ? 'mql4' : 'mql5';
    system($^X, $translator, $bad, "$dir/$ns/Plus.h") == 0 or die "cannot translate $bad\n"
        if mkdir("$dir/$ns") || -d "$dir/$ns";
    open(my $unit, '>', "$dir/Plus.cpp") or die;
    print $unit "#include \"$ns/Plus.h\"\n";
    close $unit;
    my $said = `"$clang" -std=c++20 -fsyntax-only -Werror=string-plus-int -I"$root" -I"$dir" "$dir/Plus.cpp" 2>&1`;
    if ($? == 0 || index($said, "Plus.$ext:4:") < 0 || index($said, 'string-plus-int') < 0) {
        print "FAILED: $ext: \"count \" + 5 was not rejected at Plus.$ext:4: $said";
        $failed++;
    } else {
        print "ok: $ext: \"text\" + 5 is rejected at its line\n";
    }
}
}
print "$failed failed\n";
exit($failed ? 1 : 0);
