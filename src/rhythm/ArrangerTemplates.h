#pragma once

// The genre templates of the arranger: one script per built-in band style, each
// deciding at a bar position what the bass, rhythm, harmony and lead play. Private
// to the arranger (Arranger.cpp); the scripts live in ArrangerTemplates.cpp.

#include "rhythm/Arranger.h"

#include <initializer_list>

namespace tmb::band {

// A scale interval as a minor degree plays it: the major third, sixth and seventh
// (and their octaves and the ones below) come down a semitone.
int minorInterval(int interval);

// What a template reads at one step.
struct Bar {
    int p = 0;       // position in the bar
    int counter = 0; // the progression bar counter; rows of phrase tables come from it
    int b = 36;      // bass base
    int c = 60;      // chord base; leads are written on it too
    int t = 4;       // chord colour: third, sixth and seventh of the degree
    int sixth = 9;
    int seventh = 11;
    bool minor = false;

    // A table interval as this degree plays it.
    int m(int interval) const { return minor ? minorInterval(interval) : interval; }
    int row(int rows) const { return counter % rows; }
};

// Where a template's notes go.
class Band {
public:
    virtual ~Band() = default;
    virtual void play(ArrangerState::Part part, std::initializer_list<int> notes, int velocity,
                      int length) = 0;
    void bass(int note, int velocity, int length) { play(ArrangerState::Bass, {note}, velocity, length); }
    void rhythm(std::initializer_list<int> notes, int velocity, int length) {
        play(ArrangerState::Rhythm, notes, velocity, length);
    }
    void harmony(std::initializer_list<int> notes, int velocity, int length) {
        play(ArrangerState::Harmony, notes, velocity, length);
    }
    void lead(std::initializer_list<int> notes, int velocity, int length) {
        play(ArrangerState::Lead, notes, velocity, length);
    }
};

using Script = void (*)(const Bar& bar, Band& band);

// The script of template `number` (a built-in style index, or an imported style's
// archetype); styles without one of their own get the plain fallback band.
Script templateScript(int number);

} // namespace tmb::band
