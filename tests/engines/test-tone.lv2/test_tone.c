// A test instrument with a level the tests can predict: while any note is held,
// every frame of output 1 is the last note-on velocity / 127 and of output 2 (the
// stereo variant's) half of it; silence otherwise.

#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <stdlib.h>
#include <string.h>

typedef struct {
    const LV2_Atom_Sequence* events;
    float* out[2];
    LV2_URID midiEvent;
    int held;
    float level;
} Tone;

static LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char* bundle,
                              const LV2_Feature* const* features) {
    const LV2_URID_Map* map = NULL;
    for (int i = 0; features && features[i]; ++i)
        if (strcmp(features[i]->URI, LV2_URID__map) == 0) map = (const LV2_URID_Map*)features[i]->data;
    Tone* tone = map ? (Tone*)calloc(1, sizeof(Tone)) : NULL;
    if (tone) tone->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
    return tone;
}

static void connectPort(LV2_Handle instance, uint32_t port, void* data) {
    Tone* tone = (Tone*)instance;
    if (port == 0)
        tone->events = (const LV2_Atom_Sequence*)data;
    else if (port <= 2)
        tone->out[port - 1] = (float*)data;
}

static void run(LV2_Handle instance, uint32_t frames) {
    Tone* tone = (Tone*)instance;
    LV2_ATOM_SEQUENCE_FOREACH(tone->events, event) {
        const uint8_t* midi = (const uint8_t*)(event + 1);
        if (event->body.type != tone->midiEvent || event->body.size < 3) continue;
        if ((midi[0] & 0xF0) == LV2_MIDI_MSG_NOTE_ON && midi[2] > 0) {
            ++tone->held;
            tone->level = midi[2] / 127.0f;
        } else if (((midi[0] & 0xF0) == LV2_MIDI_MSG_NOTE_OFF || (midi[0] & 0xF0) == LV2_MIDI_MSG_NOTE_ON) &&
                   tone->held > 0) {
            --tone->held;
        }
    }
    for (int side = 0; side < 2; ++side)
        for (uint32_t i = 0; tone->out[side] && i < frames; ++i)
            tone->out[side][i] = tone->held > 0 ? tone->level / (float)(side + 1) : 0.0f;
}

static void cleanup(LV2_Handle instance) {
    free(instance);
}

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    static const LV2_Descriptor descriptors[2] = {
        {"urn:tembora:test-tone:mono", instantiate, connectPort, NULL, run, NULL, cleanup, NULL},
        {"urn:tembora:test-tone:stereo", instantiate, connectPort, NULL, run, NULL, cleanup, NULL}};
    return index < 2 ? &descriptors[index] : NULL;
}
