#!/usr/bin/env perl
# The trader's text has one source, packaging/traders.md. From it come the archives' README.txt
# and the trader part of README.md, so the two cannot tell a trader different things.
#   trader-text.pl txt VERSION SOURCE OUT       README.txt: plain ASCII, 72 columns, CR LF
#   trader-text.pl readme SOURCE README          copies SOURCE into README.md between its markers
#   trader-text.pl check SOURCE README EXPERT... the test: README.md holds SOURCE as it is, every
#        input of every expert is explained with its default, every input named is an expert's,
#        and every message quoted in the message tables (and every global variable named) is
#        one an expert can write
# The source is Markdown of a small kind: headings, paragraphs, lists, tables, one quote block
# (the safety box); code spans, bold and italics inline. Anything else is refused by name.
use strict;
use warnings;

my $WIDTH = 72;

sub fail { die "trader-text: @_\n" }

sub slurp {
    my ($path) = @_;
    open(my $in, '<:raw', $path) or fail "cannot read $path: $!";
    local $/;
    my $text = <$in>;
    close $in;
    return $text;
}

sub begin_marker {
    my ($source) = @_;
    return "<!-- BEGIN $source: the trader's text, also README.txt in the release archives;"
      . " edit it there and run scripts/readme -->";
}
sub end_marker { return "<!-- END $_[0] -->" }

# The source as it must stand in README.md, between the markers.
sub readme_block {
    my ($name, $text) = @_;
    return begin_marker($name) . "\n\n" . $text . "\n" . end_marker($name);
}

# README.md's trader part as it stands, or undef when the markers are missing.
sub block_in_readme {
    my ($readme, $name) = @_;
    my ($begin, $end) = (quotemeta(begin_marker($name)), quotemeta(end_marker($name)));
    return $readme =~ /($begin\n(?:.*?\n)?$end)/s ? $1 : undef;
}

# ---- the source's blocks -------------------------------------------------------------------

# Splits the text into blocks: [heading, level, text], [para, text], [list, [items]],
# [table, [header cells], [[cells]...]], [quote, [blocks]].
sub parse_blocks {
    my (@lines) = @_;
    my @blocks;
    while (@lines) {
        my $line = shift @lines;
        next if $line =~ /^\s*$/;
        if ($line =~ /^<!--.*-->$/) {
            next;
        } elsif ($line =~ /^(#{2,3}) (.+)$/) {
            push @blocks, ['heading', length($1), $2];
        } elsif ($line =~ /^>/) {
            my @inner = ($line);
            push @inner, shift @lines while @lines && $lines[0] =~ /^>/;
            s/^> ?// for @inner;
            @inner = grep { !/^\[!\w+\]$/ } @inner;
            push @blocks, ['quote', [parse_blocks(@inner)]];
        } elsif ($line =~ /^\|/) {
            my @rows = ($line);
            push @rows, shift @lines while @lines && $lines[0] =~ /^\|/;
            my ($header, $rule, @body) = map { [table_cells($_)] } @rows;
            fail "a table without its |---| line: $line"
              unless $rule && !grep { !/^:?-+:?$/ } @$rule;
            push @blocks, ['table', $header, \@body];
        } elsif ($line =~ /^(- |\d+\. )/) {
            my @items = ($line);
            while (@lines && $lines[0] =~ /^(\s+\S|- |\d+\. )/) {
                my $next = shift @lines;
                if ($next =~ /^(- |\d+\. )/) {
                    push @items, $next;
                } else {
                    $items[-1] .= ' ' . ($next =~ s/^\s+//r);
                }
            }
            push @blocks, ['list', \@items];
        } elsif ($line =~ /^(#|```|    |\t|!\[)/) {
            fail "not in the trader text's kind of Markdown: $line";
        } else {
            my $text = $line;
            $text .= ' ' . shift @lines while @lines && $lines[0] !~ /^\s*$|^[|>#]|^(- |\d+\. )/;
            push @blocks, ['para', $text];
        }
    }
    return @blocks;
}

sub table_cells {
    my ($row) = @_;
    $row =~ s/^\|\s*|\s*\|\s*$//g;
    return split /\s*\|\s*/, $row, -1;
}

# The code spans of a piece of text.
sub code_spans { return $_[0] =~ /`([^`]+)`/g }

# ---- README.txt ------------------------------------------------------------------------------

# Inline Markdown as plain text: a code span in quotes (bare when it is all there is), bold and
# italics as their words.
sub plain {
    my ($text, $version) = @_;
    my $bare = $text =~ /^`[^`]+`$/;
    my @parts = split /(`[^`]+`)/, $text;
    for (@parts) {
        if (/^`(.*)`$/s) {
            $_ = $bare ? $1 : "\"$1\"";
        } else {
            s/\*\*(.+?)\*\*/$1/g;
            s/\*(.+?)\*/$1/g;
            fail "a link or an image in the trader text: $_" if /\]\(/;
        }
    }
    my $plain = join '', @parts;
    $plain =~ s/<version>/$version/g;
    return $plain;
}

# Words wrapped to `width` columns, the first line after `first`, the others after `rest`.
sub wrap {
    my ($text, $width, $first, $rest) = @_;
    my @out;
    my $line = $first;
    my $empty = 1;
    for my $word (split ' ', $text) {
        if (!$empty && length($line) + 1 + length($word) > $width) {
            push @out, $line;
            $line = $rest . $word;
        } else {
            $line .= ($empty ? '' : ' ') . $word;
        }
        $empty = 0;
    }
    push @out, $line;
    return @out;
}

sub render_blocks {
    my ($width, $version, @blocks) = @_;
    my @out;
    for my $block (@blocks) {
        my ($kind, @data) = @$block;
        push @out, '' if @out;
        if ($kind eq 'heading') {
            my ($level, $text) = @data;
            push @out, '' if $level == 2;
            my $title = plain($text, $version);
            my $underline = $level == 2 ? q{-} : q{~};
            push @out, $title, $underline x length($title);
        } elsif ($kind eq 'para') {
            push @out, wrap(plain($data[0], $version), $width, '', '');
        } elsif ($kind eq 'list') {
            for my $item (@{ $data[0] }) {
                my ($mark, $text) = $item =~ /^(- |\d+\. )(.*)$/;
                push @out, wrap(plain($text, $version), $width, $mark, ' ' x length($mark));
            }
        } elsif ($kind eq 'quote') {
            my @inner = render_blocks($width - 4, $version, @{ $data[0] });
            my $rule = '+' . ('-' x ($width - 2)) . '+';
            push @out, $rule, (map { sprintf('| %-*s |', $width - 4, $_) } @inner), $rule;
        } elsif ($kind eq 'table') {
            push @out, render_table($width, $version, @data);
        }
    }
    return @out;
}

# A table as a list after the name of its first column: a row of short keys (return codes) as
# aligned lines, any other row as its first cell and then the others below it, each after its
# column's name when there are more than two.
sub render_table {
    my ($width, $version, $header, $rows) = @_;
    my @out = (plain($header->[0], $version) . ':');
    my $key = 0;
    $key = length > $key ? length : $key for map { plain($_->[0], $version) } @$rows;
    if ($key <= 8 && @$header == 2) {
        @out = (sprintf('  %-*s  %s', $key, map { plain($_, $version) } @$header));
        for my $row (@$rows) {
            my $indent = ' ' x ($key + 4);
            push @out, wrap(plain($row->[1], $version), $width,
                sprintf('  %-*s  ', $key, plain($row->[0], $version)), $indent);
        }
        return @out;
    }
    for my $row (@$rows) {
        my ($first, @rest) = @$row;
        push @out, wrap(plain($first, $version), $width, '- ', '  ');
        for my $column (1 .. $#$header) {
            my $cell = plain($rest[$column - 1] // '', $version);
            $cell = plain($header->[$column], $version) . ": $cell" if @$header > 2;
            push @out, wrap($cell, $width, '    ', '    ');
        }
    }
    return @out;
}

# README.txt's lines, without their ends.
sub render_txt {
    my ($version, $text) = @_;
    my $title = "Pellith $version - order-entry panel for MetaTrader 4 and 5";
    my @lines = ($title, '=' x length($title), '',
        render_blocks($WIDTH, $version, parse_blocks(split /\n/, $text)));
    s/\s+$// for @lines;
    return @lines;
}

sub make_txt {
    my ($version, $source, $out) = @_;
    my $text = slurp($source);
    fail "$source is not plain ASCII (README.txt must be): line "
      . (1 + (() = substr($text, 0, $-[0]) =~ /\n/g))
      if $text =~ /[^\t\n -~]/;
    my @lines = render_txt($version, $text);
    # Notepad on older Windows shows a file with bare line feeds as one line.
    open(my $fh, '>:raw', "$out.tmp") or fail "cannot write $out.tmp: $!";
    print $fh join("\r\n", @lines), "\r\n";
    close $fh or fail "cannot write $out.tmp: $!";
    rename "$out.tmp", $out or fail "cannot rename $out.tmp: $!";
}

# ---- README.md -------------------------------------------------------------------------------

sub source_name { return $_[0] =~ m{(packaging/[^/]+)$} ? $1 : $_[0] }

sub make_readme {
    my ($source, $readme_path) = @_;
    my $name = source_name($source);
    my $readme = slurp($readme_path);
    my $old = block_in_readme($readme, $name)
      // fail "$readme_path has no lines '" . begin_marker($name) . "' and '" . end_marker($name)
      . "' to put the trader text between";
    my $text = slurp($source);
    $text =~ s/\n+$//;
    my $new = readme_block($name, $text);
    return if $new eq $old;
    $readme =~ s/\Q$old\E/$new/;
    open(my $fh, '>:raw', $readme_path) or fail "cannot write $readme_path: $!";
    print $fh $readme;
    close $fh or fail "cannot write $readme_path: $!";
    print "trader-text: $readme_path now holds $name\n";
}

# ---- the check -------------------------------------------------------------------------------

# An expert's inputs (name => default as written) and its string literals: literals that follow
# each other with nothing but space between are one, as the compiler joins them.
sub read_expert {
    my ($path) = @_;
    my $code = slurp($path);
    my %inputs;
    while ($code =~ /^\s*input\s+\w+\s+(\w+)\s*=\s*([^;]+?)\s*;/mg) {
        $inputs{$1} = $2;
    }
    my @literals;
    my $joins = 0; # the last token was a literal, or space after one
    # Tokens: a comment, a string literal, a character literal, space, anything else.
    my $token = qr{\G(?:(//[^\n]*|/\*.*?\*/)|"((?:[^"\\\n]|\\.)*)"|('(?:[^'\\\n]|\\.)*')|(\s+)|.)}s;
    while ($code =~ /$token/g) {
        if (defined $2) {
            my $text = $2 =~ s/\\(.)/$1 eq 'n' ? "\n" : $1/ger;
            if ($joins) {
                $literals[-1] .= $text;
            } else {
                push @literals, $text;
            }
            $joins = 1;
        } elsif (!defined $4) {
            $joins = 0;
        }
    }
    return (\%inputs, \@literals);
}

# Whether the message can be written from the experts' literals: what is left between its
# variable parts (numbers, tickets, <placeholders>, "...") must be covered by literals, whole
# ones inside and the end of one at the start, the start of one at the end.
sub covered {
    my ($message, $literals) = @_;
    for my $piece (split /#?-?\d+(?:\.\d+)?|<[^>]*>|\.\.\./, $message) {
        $piece =~ s/^\s+|\s+$//g;
        next if $piece eq '' || $piece !~ /\w/;
        return 0 unless piece_covered($piece, $literals);
    }
    return 1;
}

sub piece_covered {
    my ($piece, $literals) = @_;
    my $n = length $piece;
    my @reach = (1, (0) x $n);
    for my $literal (@$literals) {
        return 1 if index($literal, $piece) >= 0;
    }
    # Starts: the piece begins inside a literal that runs to that literal's end.
    for my $literal (@$literals) {
        for my $k (1 .. length $literal) {
            my $tail = substr($literal, -$k);
            $reach[$k] = 1 if $k <= $n && substr($piece, 0, $k) eq $tail;
        }
    }
    for my $at (1 .. $n) {
        next unless $reach[$at];
        return 1 if $at == $n;
        my $rest = substr($piece, $at);
        for my $literal (@$literals) {
            next if $literal eq '';
            if (index($rest, $literal) == 0) {
                $reach[$at + length $literal] = 1;
            } elsif (index($literal, $rest) == 0) {
                return 1; # the piece ends inside this literal
            }
        }
    }
    return 0;
}

sub check {
    my ($source, $readme_path, @experts) = @_;
    my @faults;
    my $name = source_name($source);
    my $text = slurp($source);
    $text =~ s/\n+$//;

    my $block = block_in_readme(slurp($readme_path), $name);
    if (!defined $block) {
        push @faults, "README.md has no trader part between its markers";
    } elsif ($block ne readme_block($name, $text)) {
        push @faults, "README.md's trader part is not $name as it is: run scripts/readme";
    }

    my %kinds;
    my (%inputs, @literals);
    for my $expert (@experts) {
        my ($expert_inputs, $expert_literals) = read_expert($expert);
        push @faults, "$expert has no input lines" unless %$expert_inputs;
        $kinds{$1} = 1 if $expert =~ /\.(mq[45])$/;
        for my $input (sort keys %$expert_inputs) {
            push @{ $inputs{$input} }, [$expert, $expert_inputs->{$input}];
        }
        push @literals, @$expert_literals;
    }
    push @faults, "no MetaTrader 4 expert (.mq4) to check against" unless $kinds{mq4};
    push @faults, "no MetaTrader 5 expert (.mq5) to check against" unless $kinds{mq5};

    my @blocks = parse_blocks(split /\n/, $text);
    my @all = map { $_->[0] eq 'quote' ? @{ $_->[1] } : $_ } @blocks;
    my @tables = grep { $_->[0] eq 'table' } @all;

    # Each input in a row of its own that gives its default.
    my %rows;
    for my $table (@tables) {
        for my $row (@{ $table->[2] }) {
            $rows{$1} //= $row if $row->[0] =~ /`(Inp\w+)`/;
        }
    }
    for my $input (sort keys %inputs) {
        my $row = $rows{$input};
        if (!$row) {
            push @faults,
              "the input $input ($inputs{$input}[0][0]) is not explained in a table row";
            next;
        }
        for my $use (@{ $inputs{$input} }) {
            my ($expert, $default) = @$use;
            push @faults, "$input: the text gives no default $default of $expert"
              unless grep { /^-?[\d.]+$/ && $_ == $default } @$row;
        }
        push @faults, "$input: the row explains nothing" unless grep { /\w{4}/ } @$row[1 .. $#$row];
    }
    for my $named (sort keys %{ { map { $_ => 1 } $text =~ /\b(Inp[A-Z]\w+)/g } }) {
        push @faults, "the text names $named, an input of no expert" unless $inputs{$named};
    }

    # The messages quoted in the tables of alerts, journal lines and answers, and the names of
    # the terminal's global variables.
    my @quoted;
    for my $table (@tables) {
        next unless $table->[1][0] =~ /^(Alerts|Journal lines|Code)$/;
        push @quoted, map { code_spans($_) } map { @$_ } @{ $table->[2] };
    }
    push @quoted, grep { /^Pellith </ } code_spans($text);
    push @faults, "the text quotes no messages: are the tables' first columns still named "
      . "Alerts, Journal lines and Code?" unless @quoted > 20;
    for my $message (@quoted) {
        push @faults, "no expert writes the message quoted as \"$message\""
          unless covered($message, \@literals);
    }

    my @bad = grep { /[^\t -~]/ } split /\n/, $text;
    push @faults, "not plain ASCII: $_" for @bad;

    # README.txt keeps every word of the source (only the tables' header rows may go), within
    # its width but for a word that is longer on its own.
    my @txt = render_txt('<version>', $text);
    my %have;
    $have{ lc $_ }++ for map { /[A-Za-z0-9]+/g } @txt;
    my @source = split /\n/, $text;
    my %words;
    for my $at (0 .. $#source) {
        my $line = $source[$at];
        next if $line =~ /^<!--.*-->$|^> \[!\w+\]$|^\|[-:| ]+\|$/;
        next if $at < $#source && $source[$at + 1] =~ /^\|[-:| ]+\|$/;
        $words{ lc $_ }++ for $line =~ /[A-Za-z0-9]+/g;
    }
    for my $word (sort keys %words) {
        my $kept = $have{$word} // 0;
        push @faults, "README.txt has \"$word\" $kept times, the source $words{$word}"
          if $kept < $words{$word};
    }
    push @faults, "README.txt goes past column $WIDTH: $_"
      for grep { length > $WIDTH && /\S\s+\S/ } @txt;

    if (@faults) {
        print STDERR "FAIL: $_\n" for @faults;
        print STDERR scalar(@faults) . " fault(s) in the trader text $source\n";
        exit 1;
    }
    print "trader text: " . scalar(keys %inputs) . " inputs explained, " . scalar(@quoted)
      . " messages quoted, all of them the experts' (" . join(', ', @experts) . ")\n";
}

my $command = shift // '';
if ($command eq 'txt' && @ARGV == 3) {
    make_txt(@ARGV);
} elsif ($command eq 'readme' && @ARGV == 2) {
    make_readme(@ARGV);
} elsif ($command eq 'check' && @ARGV >= 3) {
    check(@ARGV);
} else {
    fail "usage: $0 txt VERSION SOURCE OUT | readme SOURCE README | check SOURCE README EXPERT...";
}
