#include "host/sound.h"

#include <cstring>

u8 snd_recording = 0;
u8 snd_playing = 0;
u8 snd_loaded = 0;
u32 snd_samples = 0;
u16 snd_capture[SND_FRAMES][SND_FRAME_WORDS];
u16 snd_playback[SND_FRAMES][SND_FRAME_WORDS];
u8 snd_wav[SND_WAV_SIZE];

namespace {

// Canonical RIFF/WAVE header: PCM, mono, 11025 Hz, 16 bits; sizes filled in later.
const u8 WAV_HEADER[WAV_HEADER_SIZE] = {
    'R',  'I',  'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0,  // PCM
    1,    0,                                                                                      // one channel
    0x11, 0x2B, 0,   0,  // 11025 samples per second
    0x22, 0x56, 0,   0,  // 22050 bytes per second
    2,    0,             // block align
    16,   0,             // bits per sample
    'd',  'a',  't', 'a', 0, 0, 0, 0,
};

void put_u32le(u8* p, u32 v)
{
    p[0] = static_cast<u8>(v);
    p[1] = static_cast<u8>(v >> 8);
    p[2] = static_cast<u8>(v >> 16);
    p[3] = static_cast<u8>(v >> 24);
}

u32 get_u32le(const u8* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24);
}

}  // namespace

void snd_reset()
{
    snd_recording = 0;
    snd_playing = 0;
    snd_loaded = 0;
    snd_samples = 0;
}

void snd_default_length()
{
    snd_samples = 1000;
}

void snd_play_start()
{
    if (snd_loaded) {
        snd_playing = 0;
        snd_recording = 0;
    }
}

void snd_play_stop()
{
    snd_playing = 0;
}

void wav_make_header(u8* wav, u32 n)
{
    std::memcpy(wav, WAV_HEADER, WAV_HEADER_SIZE);
    put_u32le(wav + 40, 2 * n);
    put_u32le(wav + 4, 2 * n + 36);
}

void snd_capture_to_wav(u8* wav, u32 n)
{
    if (n > SND_FRAMES) n = SND_FRAMES;
    snd_loaded = (n != 0);
    if (n == 0) return;
    wav_make_header(wav, n);
    for (u32 i = 0; i < n; ++i) {
        u16 s = static_cast<u16>(snd_capture[i][0] * 2u);
        wav[WAV_HEADER_SIZE + 2 * i] = static_cast<u8>(s);
        wav[WAV_HEADER_SIZE + 2 * i + 1] = static_cast<u8>(s >> 8);
    }
}

u32 snd_wav_to_playback(const u8* wav)
{
    u32 n = get_u32le(wav + 40) / 2;
    // A damaged header must not make us read or write past the buffers.
    if (n > SND_FRAMES) n = SND_FRAMES;
    for (u32 i = 0; i < n; ++i) {
        u16 s = static_cast<u16>(wav[WAV_HEADER_SIZE + 2 * i] | (wav[WAV_HEADER_SIZE + 2 * i + 1] << 8));
        snd_playback[i][0] = static_cast<u16>(s & 0xFFFE);
    }
    snd_loaded = 1;
    return n;
}
