#!/usr/bin/perl
# The translator stops with the .mq4 line on every construct it does not handle. A table of
# small experts: each must fail with its line and message, and the last one must translate.
use strict;
use warnings;

my ($translator, $dir, $clang, $root) = @ARGV;
mkdir $dir unless -d $dir;
my $head = "#property strict\n";
my @cases = (
    # [what, source, expected line, part of the message]
    ['no strict', "int x;\n", 1, 'must declare #property strict'],
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
    ['long long', "${head}long long x;\n", 2, "'long long' is not MQL4"],
    ['a wrong OnDeinit', "${head}void OnDeinit()\n  {\n  }\n", 2, 'OnDeinit must be declared void(const int)'],
    ['an open block', "${head}void F()\n  {\n", 4, 'the file ends inside a block'],
    ['an open import', "${head}#import \"a.dll\"\nint F(int a);\n", 4, 'the #import block is not closed'],
    ['a comment hides nothing', "${head}// class T {};\n/* struct */ int a; \"x\";\n", 3, 'not handled: "x";'],
);
my $failed = 0;
my $n = 0;
for my $case (@cases) {
    my ($what, $source, $line, $message) = @$case;
    $n++;
    my $file = "$dir/Case$n.mq4";
    open(my $out, '>', $file) or die "$file: $!\n";
    print $out $source;
    close $out;
    my $result = `"$^X" "$translator" "$file" "$dir/Case$n.h" 2>&1`;
    my $status = $? >> 8;
    if ($status == 0 || index($result, "Case$n.mq4:$line: error: ") < 0 || index($result, $message) < 0) {
        print "FAILED: $what: status $status, said: $result";
        $failed++;
    } else {
        print "ok: $what\n";
    }
}
# What it handles translates.
my $good = "$dir/Good.mq4";
open(my $out, '>', $good) or die;
print $out "${head}#define N 3\ninput double Lots = 0.1; // lots\ndouble g[N];\nlong big;\n"
    . "int OnInit()\n  {\n   g[0] = Lots; // \"quoted\" {\n   return INIT_SUCCEEDED;\n  }\n";
close $out;
my $result = `"$^X" "$translator" "$good" "$dir/Good.h" 2>&1`;
if ($? != 0) {
    print "FAILED: a good expert: $result";
    $failed++;
} else {
    open(my $in, '<', "$dir/Good.h") or die;
    my $text = do { local $/; <$in> };
    for my $part ('static constexpr int N = 3;', 'TMqlArray<double> g = TMqlArray<double>(N);',
                  'mql_long big{};', 'int OnInit() override', 'double Lots = 0.1;') {
        if (index($text, $part) < 0) {
            print "FAILED: a good expert: no '$part' in\n$text";
            $failed++;
        }
    }
    print "ok: a good expert\n";
}
# "text" + 5 appends in MQL4 and is pointer arithmetic in C++: the translated expert compiled by
# clang with -Werror=string-plus-int stops there, naming the .mq4 line.
if ($clang) {
    my $bad = "$dir/Plus.mq4";
    open(my $plus, '>', $bad) or die;
    print $plus "${head}void OnTick()\n  {\n   Print(\"count \" + 5);\n  }\n";
    close $plus;
    system($^X, $translator, $bad, "$dir/mql4/Plus.h") == 0 or die "cannot translate $bad\n"
        if mkdir("$dir/mql4") || -d "$dir/mql4";
    open(my $unit, '>', "$dir/Plus.cpp") or die;
    print $unit "#include \"mql4/Plus.h\"\n";
    close $unit;
    my $said = `"$clang" -std=c++20 -fsyntax-only -Werror=string-plus-int -I"$root" -I"$dir" "$dir/Plus.cpp" 2>&1`;
    if ($? == 0 || index($said, "Plus.mq4:4:") < 0 || index($said, 'string-plus-int') < 0) {
        print "FAILED: \"count \" + 5 was not rejected at Plus.mq4:4: $said";
        $failed++;
    } else {
        print "ok: \"text\" + 5 is rejected at its .mq4 line\n";
    }
}
print "$failed failed\n";
exit($failed ? 1 : 0);
