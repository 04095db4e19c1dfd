#!/usr/bin/perl
# Test-bed search for an RSA modulus in files, in every form a serialised key would carry it:
# the raw bytes (DER, PKCS #8, a memory dump), hexadecimal (also with ':' or ',' between the
# bytes and line breaks, as in `openssl -text` or a registry file), and base64 at each of the
# three byte alignments (PEM). Certificates are where the modulus belongs, so PEM certificate
# blocks and registry keys of certificate stores ("...\Certificates\<thumbprint>") are left out
# unless --all is given. Prints "FILE: FORMS" for each file holding it; exit code 1 if any does.
#
#   find_modulus.pl [--all] MODULUS_HEX FILE...
use strict;
use warnings;
use MIME::Base64 qw(encode_base64);

my $all = @ARGV && $ARGV[0] eq '--all' ? shift @ARGV : 0;
my $modulus_hex = lc shift @ARGV // die "usage: find_modulus.pl [--all] MODULUS_HEX FILE...\n";
my $raw = pack('H*', $modulus_hex);
die "find_modulus.pl: a modulus of at least 64 bytes, please\n" if length($raw) < 64;
# Pieces from the middle: long enough to be the key's, short enough to sit inside any one line.
my $raw_piece = substr($raw, 16, 32);
my $hex_piece = unpack('H*', $raw_piece);
my @base64_pieces = map { substr(encode_base64(substr($raw, $_, 48), ''), 4, 56) } 0 .. 2;

my $found = 0;
for my $file (@ARGV) {
  open(my $in, '<:raw', $file) or next;
  my $content = do { local $/; <$in> };
  close $in;
  unless ($all) {
    $content =~ s/-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----//gs;
    $content =~ s/^\[[^\n]*\\\\?Certificates\\\\?[0-9A-Fa-f]{40}\][^\[]*//gm;
  }
  (my $squeezed = $content) =~ s/[\x00\s:,\\]+//g;
  my @forms;
  push @forms, 'raw' if index($content, $raw_piece) >= 0;
  push @forms, 'hex' if index(lc $squeezed, $hex_piece) >= 0;
  push @forms, 'base64' if grep { index($squeezed, $_) >= 0 } @base64_pieces;
  next unless @forms;
  print "$file: @forms\n";
  $found = 1;
}
exit $found;
