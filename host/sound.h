// The instrument's sound path. The emulated hardware has no sound device:
// the capture buffer stays silent and nothing plays the playback buffer.
#pragma once
#include "base/types.h"

constexpr u32 SND_FRAMES = 131072;  // frames in each buffer
constexpr u32 SND_FRAME_WORDS = 6;  // 16-bit words per frame; word 0 is the sample
constexpr u32 WAV_HEADER_SIZE = 44;
constexpr u32 SND_WAV_SIZE = WAV_HEADER_SIZE + 2 * SND_FRAMES;

extern u8 snd_recording;
extern u8 snd_playing;
extern u8 snd_loaded;
extern u32 snd_samples;
extern u16 snd_capture[SND_FRAMES][SND_FRAME_WORDS];
extern u16 snd_playback[SND_FRAMES][SND_FRAME_WORDS];
extern u8 snd_wav[SND_WAV_SIZE];

void snd_reset();
void snd_default_length();
void snd_play_start();
void snd_play_stop();
void wav_make_header(u8* wav, u32 n);
void snd_capture_to_wav(u8* wav, u32 n);
// Copies the samples of a WAV image into the playback buffer: the samples
// copied (at most SND_FRAMES).
u32 snd_wav_to_playback(const u8* wav);
