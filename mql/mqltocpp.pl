#!/usr/bin/perl
# Translates an MQL4 expert into a C++ class over mql4/runtime/Mql4.h, or an MQL5 expert (.mq5)
# into one over mql5/runtime/Mql5.h, so that the unchanged expert can be compiled, run and tested
# outside the terminal. It handles the subset of the language a plain expert is written in and
# stops, naming the source line, at anything else:
#
#   #property (.mq4: strict is required), #define NAME literal,
#   .mq4: #include <stderror.mqh>    -> nothing (the runtime has the codes); .mq5: no #include
#   .mq5: MQL5's trade structures and ENUM_ types, as types of variables and parameters
#   one #import "x.dll" block        -> a nested TImports interface that the class calls through
#   input TYPE NAME = value;         -> a member, and a field of the nested TInputs
#   global variables and arrays      -> members, zero-initialised as MQL globals are
#   functions                        -> member functions (OnInit, OnDeinit, OnTick, OnTimer
#                                       override the runtime's event handlers)
#   TYPE name[N], TYPE &name[]       -> TMqlArray<TYPE>
#   long, char                       -> mql_long, mql_char (64-bit and signed, as in MQL)
#
# Usage: mqltocpp.pl INPUT.mq4|INPUT.mq5 OUTPUT.h
use strict;
use warnings;

my ($input, $output) = @ARGV;
die "usage: $0 INPUT.mq4|INPUT.mq5 OUTPUT.h\n" unless defined $output;
my $mql5 = $input =~ /\.mq5$/i;
# What differs between the languages' translations: the runtime, the namespace, the base class
# and the server it trades with.
my %target = $mql5
    ? (name => 'MQL5', ext => 'mq5', ns => 'mql5', runtime => 'mql5/runtime/Mql5.h',
       base => 'TMql5Program', server => 'TTradeServer5')
    : (name => 'MQL4', ext => 'mq4', ns => 'mql4', runtime => 'mql4/runtime/Mql4.h',
       base => 'TMqlProgram', server => 'TTradeServer');
open(my $in, '<', $input) or die "$input: $!\n";
my $source = do { local $/; <$in> };
close $in;
$source =~ s/\r\n?/\n/g;
(my $base = $input) =~ s{.*[/\\]}{};
$base =~ s/\.mq[45]$//i;
die "$input: the file name must be a C++ identifier\n" unless $base =~ /^[A-Za-z_]\w*$/;
my $class = "T$base";

sub fail {
    my ($line, $message) = @_;
    die "$input:$line: error: $message\n";
}

my $TYPES = $mql5
    ? qr/(?:bool|char|uchar|short|ushort|int|uint|long|ulong|float|double|string|color|datetime|MqlTradeRequest|MqlTradeResult|MqlTradeCheckResult|MqlTick|ENUM_[A-Z_]+)/
    : qr/(?:bool|char|uchar|short|ushort|int|uint|long|ulong|float|double|string|color|datetime)/;

# C++ (and MQL) constructs this translator does not carry over: the build must not accept code
# that MQL lacks or that would change meaning as a class member.
my @REJECTED = qw(class struct union enum template typename namespace using typedef operator new
    delete this virtual friend public private protected auto nullptr constexpr static_cast
    dynamic_cast const_cast reinterpret_cast decltype try catch throw goto static extern sinput
    unsigned signed mutable inline register volatile sizeof std override final wchar_t);
my %REJECTED = map { $_ => 1 } @REJECTED;

# --- Comments out (strings kept, line numbers kept) -------------------------------------------
my $code = '';
{
    my $i = 0;
    my $n = length $source;
    while ($i < $n) {
        my $c = substr($source, $i, 1);
        my $two = substr($source, $i, 2);
        if ($two eq '//') {
            my $end = index($source, "\n", $i);
            $end = $n if $end < 0;
            $code .= ' ' x ($end - $i);
            $i = $end;
        } elsif ($two eq '/*') {
            my $end = index($source, '*/', $i + 2);
            fail(1 + (substr($source, 0, $i) =~ tr/\n//), 'unterminated comment') if $end < 0;
            my $text = substr($source, $i, $end + 2 - $i);
            $text =~ s/[^\n]/ /g;
            $code .= $text;
            $i = $end + 2;
        } elsif ($c eq '"' || $c eq "'") {
            my $j = $i + 1;
            while ($j < $n && substr($source, $j, 1) ne $c) {
                fail(1 + (substr($source, 0, $i) =~ tr/\n//), 'unterminated literal')
                    if substr($source, $j, 1) eq "\n";
                $j += substr($source, $j, 1) eq '\\' ? 2 : 1;
            }
            $code .= substr($source, $i, $j + 1 - $i);
            $i = $j + 1;
        } else {
            $code .= $c;
            $i++;
        }
    }
}

# Applies a substitution to the code outside string and character literals.
sub outside_literals {
    my ($text, $edit) = @_;
    my @parts = split /("(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*')/, $text;
    for (my $k = 0; $k < @parts; $k += 2) {
        $parts[$k] = $edit->($parts[$k]);
    }
    return join '', @parts;
}

# --- Preprocessor lines -----------------------------------------------------------------------
my @lines = split /\n/, $code, -1;
my (%properties, @defines, $import_library, $import_text, $import_line);
my $strict = 0;
my $in_import = 0;
for my $k (0 .. $#lines) {
    my $number = $k + 1;
    my $line = $lines[$k];
    if ($in_import) {
        if ($line =~ /^\s*#\s*import\s*$/) {
            $in_import = 0;
        } elsif ($line =~ /^\s*#/) {
            fail($number, 'a preprocessor line inside the #import block');
        } else {
            $import_text .= $line . "\n";
        }
        $lines[$k] = '';
        next;
    }
    next unless $line =~ /^\s*#/;
    if ($line =~ /^\s*#\s*property\s+strict\s*$/) {
        $strict = 1;
    } elsif ($line =~ /^\s*#\s*property\s+(copyright|link|version|description)\s+("(?:[^"\\]|\\.)*")\s*$/) {
        push @{$properties{$1}}, $2;
    } elsif (!$mql5 && $line =~ /^\s*#\s*include\s*<stderror\.mqh>\s*$/) {
        # The runtime defines the error codes.
    } elsif ($line =~ /^\s*#\s*define\s+([A-Za-z_]\w*)\s+(-?\d+)\s*$/) {
        push @defines, [$number, "static constexpr int $1 = $2;"];
    } elsif ($line =~ /^\s*#\s*define\s+([A-Za-z_]\w*)\s+(-?\d+\.\d*(?:[eE][-+]?\d+)?)\s*$/) {
        push @defines, [$number, "static constexpr double $1 = $2;"];
    } elsif ($line =~ /^\s*#\s*define\s+([A-Za-z_]\w*)\s+("(?:[^"\\]|\\.)*")\s*$/) {
        push @defines, [$number, "static constexpr const char* $1 = $2;"];
    } elsif ($line =~ /^\s*#\s*import\s+"([^"]+)"\s*$/) {
        fail($number, 'a second #import block') if defined $import_library;
        ($import_library, $import_text, $import_line, $in_import) = ($1, '', $number + 1, 1);
    } else {
        (my $shown = $line) =~ s/^\s+|\s+$//g;
        fail($number, "not handled: $shown");
    }
    $lines[$k] = '';
}
fail(scalar @lines, 'the #import block is not closed') if $in_import;
fail(1, 'the expert must declare #property strict') unless $strict || $mql5;
$code = join "\n", @lines;

# --- Checks on every token ----------------------------------------------------------------------
{
    my $number = 0;
    for my $line (@lines) {
        $number++;
        fail($number, "a color or datetime literal is not handled") if $line =~ /\b[CD]'/;
        (my $bare = $line) =~ s/"(?:[^"\\]|\\.)*"|'(?:[^'\\]|\\.)*'/ /g;
        while ($bare =~ /\b([A-Za-z_]\w*)\b/g) {
            fail($number, "'$1' is not handled") if $REJECTED{$1};
        }
        fail($number, "'$1' is not handled") if $bare =~ /(::|->|\.\.\.|\[\s*[&=]|#)/;
        fail($number, "'long long' is not $target{name}") if $bare =~ /\blong\s+long\b/;
    }
}

# TYPE name[N] -> TMqlArray<TYPE> name = TMqlArray<TYPE>(N); TYPE &name[] -> TMqlArray<TYPE>& name
sub translate_arrays {
    my ($text, $line) = @_;
    return outside_literals($text, sub {
        my $t = shift;
        $t =~ s/\b($TYPES)\s*&\s*([A-Za-z_]\w*)\s*\[\s*\]/TMqlArray<$1>& $2/g;
        $t =~ s/\b($TYPES)\s+([A-Za-z_]\w*)\s*\[\s*\]\s*(?=[;,)])/TMqlArray<$1> $2/g;
        $t =~ s/\b($TYPES)\s+([A-Za-z_]\w*)\s*\[\s*(\w+)\s*\]\s*(?=;)/TMqlArray<$1> $2 = TMqlArray<$1>($3)/g;
        fail($line, 'an array form that is not handled (several dimensions or an initializer)')
            if $t =~ /\b$TYPES\s+[A-Za-z_]\w*\s*\[/;
        $t =~ s/\blong\b/mql_long/g;
        $t =~ s/\bchar\b/mql_char/g;
        return $t;
    });
}

sub line_of {
    my ($offset) = @_;
    return 1 + (substr($code, 0, $offset) =~ tr/\n//);
}

# --- The #import block: one pure virtual per declaration, and a member that calls it ----------
my (@import_virtuals, @import_members);
if (defined $import_library) {
    my $offset = 0;
    for my $declaration (split /;/, $import_text) {
        my $line = $import_line + (substr($import_text, 0, $offset) =~ tr/\n//);
        $offset += length($declaration) + 1;
        next if $declaration =~ /^\s*$/;
        my $first = $line + (($declaration =~ /^(\s*)/)[0] =~ tr/\n//);
        $declaration =~ /^\s*($TYPES|void)\s+([A-Za-z_]\w*)\s*\(([^()]*)\)\s*$/
            or fail($first, 'an #import declaration that is not handled');
        my ($type, $name, $parameters) = ($1, $2, $3);
        my @names;
        for my $parameter (split /,/, $parameters) {
            next if $parameter =~ /^\s*(void)?\s*$/;
            $parameter =~ /([A-Za-z_]\w*)\s*(\[\s*\])?\s*$/
                or fail($first, "an #import parameter without a name: $parameter");
            push @names, $1;
        }
        (my $cpp = "$type $name($parameters)") =~ s/\s+/ /g;
        $cpp = translate_arrays($cpp, $first);
        my $return = $type eq 'void' ? '' : 'return ';
        push @import_virtuals, "        virtual $cpp = 0;";
        push @import_members, "#line $first \"$input\"\n    $cpp { ${return}FImports.$name("
            . join(', ', @names) . "); }";
    }
}

# --- Top-level items: inputs, globals, functions -----------------------------------------------
my (@inputs, @members);
my %events = (OnInit => 'int()', OnDeinit => 'void(const int)', OnTick => 'void()',
              OnTimer => 'void()');
{
    my ($depth, $parens, $start) = (0, 0, 0);
    my $n = length $code;
    my $i = 0;
    while ($i < $n) {
        my $c = substr($code, $i, 1);
        if ($c eq '"' || $c eq "'") {
            my $j = $i + 1;
            $j += substr($code, $j, 1) eq '\\' ? 2 : 1 while substr($code, $j, 1) ne $c;
            $i = $j + 1;
            next;
        }
        if ($c eq '(') { $parens++ }
        elsif ($c eq ')') { $parens-- }
        elsif ($c eq '{') { $depth++ }
        elsif ($c eq '}') {
            $depth--;
            fail(line_of($i), 'an unbalanced }') if $depth < 0;
            if ($depth == 0) {
                my $item = substr($code, $start, $i + 1 - $start);
                # A function body ends its item; an initializer waits for its semicolon.
                if ($item !~ /^[^{]*=\s*\{/) {
                    handle_item($item, $start);
                    $start = $i + 1;
                }
            }
        } elsif ($c eq ';' && $depth == 0 && $parens == 0) {
            handle_item(substr($code, $start, $i + 1 - $start), $start);
            $start = $i + 1;
        }
        $i++;
    }
    fail(line_of($n), 'the file ends inside a block') if $depth != 0;
    fail(line_of($start), 'text after the last item') if substr($code, $start) =~ /\S/;
}

sub handle_item {
    my ($item, $offset) = @_;
    return unless $item =~ /\S/;
    my $skipped = ($item =~ /^(\s*)/)[0];
    my $line = line_of($offset + length $skipped);
    $item =~ s/^\s+//;
    my $directive = "#line $line \"$input\"";

    if ($item =~ /^input\s+($TYPES)\s+([A-Za-z_]\w*)\s*=\s*([^;]+?)\s*;$/s) {
        my ($type, $name, $value) = ($1, $2, $3);
        fail($line, 'an input with an initializer that is not a literal')
            unless $value =~ /^(?:-?[\d.]+(?:[eE][-+]?\d+)?|"(?:[^"\\]|\\.)*"|true|false|clr\w+)$/;
        my $cpp = translate_arrays($type, $line);
        push @inputs, [$cpp, $name, $value];
        push @members, "$directive\n    $cpp $name = $value;";
        return;
    }
    fail($line, 'an input that is not handled') if $item =~ /^input\b/;

    # A prototype: members need none.
    return if $item =~ /^(?:$TYPES|void)\s+[A-Za-z_]\w*\s*\([^{};]*\)\s*;$/s;

    if ($item =~ /^((?:const\s+)?(?:$TYPES|void))\s+([A-Za-z_]\w*)\s*\(([^{};]*)\)(\s*)\{(.*)\}$/s) {
        my ($type, $name, $parameters, $gap, $body) = ($1, $2, $3, $4, $5);
        my $cpp = translate_arrays("$type $name($parameters)", $line);
        if (exists $events{$name}) {
            (my $signature = "$type(" . join(',', map { s/^\s+|\s+$//gr =~ s/\s+\w+$//r }
                grep { /\S/ } split /,/, $parameters) . ')') =~ s/\s+/ /g;
            fail($line, "$name must be declared $events{$name}") unless $signature eq $events{$name};
            $cpp .= ' override';
        }
        my $translated = translate_arrays($body, $line);
        # The body keeps its lines, so that the compiler's messages name the source line.
        push @members, "$directive\n    $cpp" . ("\n" x ($gap =~ tr/\n//)) . " {$translated}";
        return;
    }

    if ($item =~ /^(?:const\s+)?$TYPES\s+[A-Za-z_]\w*\s*(?:\[[^\]]*\])?\s*(?:=\s*([^;]*))?;$/s) {
        my $cpp = translate_arrays($item, $line);
        # MQL zero-initialises globals; a C++ member would not be.
        $cpp =~ s/^((?:const\s+)?\S+\s+[A-Za-z_]\w*)\s*;$/$1\{\};/ unless $cpp =~ /=/;
        push @members, "$directive\n    $cpp";
        return;
    }
    (my $shown = substr($item, 0, 60)) =~ s/\s+/ /g;
    fail($line, "not handled: $shown");
}

# --- The class ------------------------------------------------------------------------------------
my $version = $properties{version} ? $properties{version}[0] : '""';
my $text = <<"EOT";
// Generated by mql/mqltocpp.pl from $base.$target{ext}: edit the .$target{ext}, not this file.
#pragma once
#include "$target{runtime}"

namespace $target{ns} {

// The functions of the #import block ("${\($import_library // '')}"), for the terminal to provide.
struct ${class}Imports {
    virtual ~${class}Imports() = default;
@{[join "\n", map { s/^    //r } @import_virtuals]}
};

// The expert's inputs with their default values.
struct ${class}Inputs {
@{[join "\n", map { "    $_->[0] $_->[1] = $_->[2];" } @inputs]}
};

class $class : public $target{base} {
  public:
    static constexpr const char* Version = $version;
    using TImports = ${class}Imports;
    using TInputs = ${class}Inputs;

    $class($target{server}& AServer, TMqlHost& AHost, TMqlChart AChart, TImports& AImports,
           const TInputs& AInputs = TInputs())
        : $target{base}(AServer, AHost, std::move(AChart)), FImports(AImports) {
        SetInputs(AInputs);
    }

    // New inputs, as the terminal sets them before OnInit.
    void SetInputs(const TInputs& AInputs) {
@{[join "\n", map { "        $_->[1] = AInputs.$_->[1];" } @inputs]}
    }
    // The inputs: the trader changes them between OnDeinit and OnInit with REASON_PARAMETERS.
    void ChangeInputs(const TInputs& AInputs) {
        Deinit(REASON_PARAMETERS);
        SetInputs(AInputs);
        Init();
    }

  private:
    TImports& FImports;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
EOT
$text .= join("\n", (map { "#line $_->[0] \"$input\"\n    $_->[1]" } @defines), @import_members,
              @members);
$text .= <<"EOT";

#pragma GCC diagnostic pop
};

} // namespace $target{ns}
EOT

open(my $out, '>', "$output.tmp") or die "$output: $!\n";
print $out $text;
close $out or die "$output: $!\n";
rename("$output.tmp", $output) or die "$output: $!\n";
