#!/usr/bin/perl
# Test-bed reader of a certificate store as `reg export` writes it (UTF-16LE): for every key
# "...\Certificates\<thumbprint>" it decodes the value "Blob", a list of properties (id, 1,
# length, bytes; id 32 holds the encoded certificate), and writes that certificate as
# OUTDIR/<thumbprint>.pem. Prints the thumbprints written, one a line.
#
#   store_certificates.pl EXPORT.reg OUTDIR
use strict;
use warnings;
use Encode qw(decode);
use MIME::Base64 qw(encode_base64);

my ($export, $outdir) = @ARGV;
die "usage: store_certificates.pl EXPORT.reg OUTDIR\n" unless defined $outdir;
open(my $in, '<:raw', $export) or die "cannot read $export: $!\n";
my $text = decode('UTF-16', do { local $/; <$in> });
$text =~ s/\r//g;
$text =~ s/\\\n\s*//g;    # continued lines

my $key;
for my $line (split /\n/, $text) {
  if ($line =~ /^\[.*\\Certificates\\([0-9A-Fa-f]{40})\]$/) {
    $key = uc $1;
    next;
  }
  next unless defined $key && $line =~ /^"Blob"=hex:([0-9a-fA-F,]*)$/;
  my $blob = pack('H*', join('', split(/,/, $1)));
  my $certificate;
  while (length($blob) >= 12) {
    my ($id, undef, $size) = unpack('V V V', $blob);
    last if $size > length($blob) - 12;
    $certificate = substr($blob, 12, $size) if $id == 32;
    substr($blob, 0, 12 + $size) = '';
  }
  next unless defined $certificate;
  open(my $out, '>', "$outdir/$key.pem") or die "cannot write $outdir/$key.pem: $!\n";
  print $out "-----BEGIN CERTIFICATE-----\n", encode_base64($certificate),
    "-----END CERTIFICATE-----\n";
  close $out;
  print "$key\n";
  undef $key;
}
