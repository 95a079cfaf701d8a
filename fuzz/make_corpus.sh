#!/usr/bin/env bash
# Writes the seed corpus of the WAV loader's fuzzer into fuzz/corpus/: small files that pass
# and files that fail each header check the loader makes. Run by hand when the seeds change;
# its output is committed.
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/corpus"
rm -rf "$out"
mkdir -p "$out"

byte() { printf "$(printf '\\x%02x' $(($1 & 255)))"; }
le16() { byte "$1"; byte $(($1 >> 8)); }
le32() { le16 $(($1 & 0xFFFF)); le16 $(($1 >> 16 & 0xFFFF)); }
# 16 stereo frames of a rising and falling pattern: 64 bytes.
samples() { for i in $(seq 0 31); do le16 $(((i * 2731) & 0xFFFF)); done; }

# wav NAME RIFF-ID RIFF-SIZE(auto|n) FMT-SIZE TAG CHANNELS RATE BYTE-RATE BITS DATA-ID
#     DATA-SIZE(auto|n) [BETWEEN [AFTER]]
# BETWEEN goes between the format chunk and the data chunk id, AFTER after the samples.
wav() {
    local name=$1 riff=$2 riff_size=$3 fmt_size=$4 tag=$5 channels=$6 rate=$7 byte_rate=$8
    local bits=$9 data_id=${10} data_size=${11} between=${12:-} after=${13:-}
    local body
    body=$(mktemp)
    {
        printf 'WAVEfmt '
        le32 "$fmt_size"; le16 "$tag"; le16 "$channels"; le32 "$rate"; le32 "$byte_rate"
        le16 $((channels * bits / 8)); le16 "$bits"
        printf '%b' "$between"
        printf '%s' "$data_id"
        [[ $data_size == auto ]] && data_size=64
        le32 "$data_size"
        samples
        printf '%b' "$after"
    } > "$body"
    local size
    size=$(stat -c %s "$body")
    [[ $riff_size == auto ]] && riff_size=$size
    { printf '%s' "$riff"; le32 "$riff_size"; cat "$body"; } > "$out/$name"
    rm -f "$body"
}

ok=(16 1 2 44100 176400 16)
wav valid.wav RIFF auto "${ok[@]}" data auto
wav valid_trailing_chunk.wav RIFF auto "${ok[@]}" data auto "" 'junk\x04\x00\x00\x00abcd'
wav valid_short_data.wav RIFF auto "${ok[@]}" data 3
wav valid_no_frames.wav RIFF auto "${ok[@]}" data 0
wav list_before_data.wav RIFF auto "${ok[@]}" data auto 'LIST\x04\x00\x00\x00INFO'
wav riff_size_short.wav RIFF 99 "${ok[@]}" data auto
wav riff_size_huge.wav RIFF 0xFFFFFFFF "${ok[@]}" data auto
wav rifx.wav RIFX auto "${ok[@]}" data auto
wav data_past_end.wav RIFF auto "${ok[@]}" data 65
wav data_size_huge.wav RIFF auto "${ok[@]}" data 0xFFFFFFFF
wav mono.wav RIFF auto 16 1 1 44100 88200 16 data auto
wav rate_48000.wav RIFF auto 16 1 2 48000 192000 16 data auto
wav bits_8.wav RIFF auto 16 1 2 44100 88200 8 data auto
wav bits_24.wav RIFF auto 16 1 2 44100 264600 24 data auto
wav float.wav RIFF auto 16 3 2 44100 176400 16 data auto
wav fmt_18.wav RIFF auto 18 1 2 44100 176400 16 data auto
head -c 43 "$out/valid.wav" > "$out/header_43_bytes.wav"
head -c 44 "$out/valid_no_frames.wav" > "$out/header_only.wav"
: > "$out/empty.wav"
