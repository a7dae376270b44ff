#!/usr/bin/perl
# The trader's guards speak the same words in both experts: every string literal of either expert
# that belongs to a guard (lots from risk, the cap, the spread guard, break-even, their inputs)
# is in the other one too, and the guards' inputs are declared alike. A word changed in one
# expert only fails here, before the traders' text (one text for both) is wrong for one of them.
use strict;
use warnings;

my ($mq4, $mq5) = @ARGV;
die "usage: $0 EXPERT.mq4 EXPERT.mq5\n" unless $mq4 && $mq5;

my $guard = join '|', 'break-even', 'B/E', 'InpRiskPercent', 'InpMaxLots', 'InpMaxSpreadPips',
  'InpBreakEven', 'at risk', '% risk', 'risk of', 'tick value', 'tick size', 'spread is',
  'allowed \(', 'cap of', 'equity', 'nothing limits', 'loses nothing', 'The expert stops',
  'no click could trade';
$guard = qr/$guard/;

sub words {
    my ($path) = @_;
    open(my $in, '<', $path) or die "$path: $!\n";
    local $/;
    my $code = <$in>;
    my (%literals, %inputs);
    $code =~ s{//[^\n]*}{}g;
    $literals{$1} = 1 while $code =~ /"((?:[^"\\\n]|\\.)*)"/g;
    $inputs{$1} = $2 while $code =~ /^input\s+double\s+((?:InpRisk|InpMax|InpBreakEven)\w*)\s*=\s*([^;]+);/mg;
    return ([grep { /$guard/ } keys %literals], \%inputs);
}

my ($words4, $inputs4) = words($mq4);
my ($words5, $inputs5) = words($mq5);
my %in5 = map { $_ => 1 } @$words5;
my %in4 = map { $_ => 1 } @$words4;
my @faults;
push @faults, "only in $mq4: \"$_\"" for sort grep { !$in5{$_} } @$words4;
push @faults, "only in $mq5: \"$_\"" for sort grep { !$in4{$_} } @$words5;
for my $input (sort keys %{ { %$inputs4, %$inputs5 } }) {
    my ($a, $b) = ($inputs4->{$input} // 'none', $inputs5->{$input} // 'none');
    push @faults, "$input: $a in $mq4, $b in $mq5" if $a ne $b;
}
push @faults, "no guard words found: is the pattern still right?" if @$words4 < 20;
push @faults, "the guards' five inputs not found" if keys %$inputs4 != 5;
if (@faults) {
    print STDERR "FAIL: $_\n" for @faults;
    exit 1;
}
print "same words: " . scalar(@$words4) . " literals of the guards and "
  . scalar(keys %$inputs4) . " inputs alike in both experts\n";
