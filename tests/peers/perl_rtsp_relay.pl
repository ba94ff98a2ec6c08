#!/usr/bin/perl
# Debian's RTSP::Server as a relay no one here wrote: a source (FFmpeg) publishes with ANNOUNCE and
# RECORD on the source port, clients play from the client port. Usage: CLIENT_PORT SOURCE_PORT
# RTP_START_PORT LIFETIME_S; ends by itself after the lifetime.
use strict;
use warnings;
use AnyEvent;
use RTSP::Server;

my ($client, $source, $rtp, $lifetime) = @ARGV;
my $server = RTSP::Server->new(
    log_level             => 1,
    client_listen_port    => $client,
    source_listen_port    => $source,
    rtp_start_port        => $rtp,
    client_listen_address => '127.0.0.1',
    source_listen_address => '127.0.0.1',
);
$server->listen;
my $done = AnyEvent->condvar;
my $timer = AnyEvent->timer(after => $lifetime, cb => sub { $done->send });
$done->recv;
