#pragma once

// The computer keyboard as an instrument of the main window: two octaves of
// musical keys (lower row Z S X D C V G B H N J M , from C3, upper row
// Q 2 W 3 E R 5 T 6 Y 7 U I from C4) and Space as the sustain pedal.
//
// The keys play whichever control was clicked last: installed as an application
// event filter, it takes the musical keys and Space from every top-level scene
// window before the focused control sees them, so a focused button is never
// pressed by Space. Only a text field being edited keeps its typing; Enter,
// Escape or a click outside it gives the keys back.
//
// A held key is one note-on and one note-off however the platform repeats it:
// a press of a key already down is ignored, and a release waits a short grace
// time, so the release/press pairs of X11 auto-repeat (flagged or not) and the
// flagged repeats of Wayland never restrike the note.
//
// GUI thread only.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>

class QQuickItem;
class QQuickWindow;

namespace tmb {

class WorkstationController;

class ComputerKeyboard : public QObject {
    Q_OBJECT
public:
    // How long a released key waits for the repeat's press before its note-off.
    static constexpr int releaseGraceMs = 30;

    explicit ComputerKeyboard(WorkstationController& controller, QObject* parent = nullptr);

    // The note a key plays, or -1. Digits and the comma count with Shift too
    // (as their US-layout symbols).
    static int noteForKey(int key);
    static int velocityFor(Qt::KeyboardModifiers modifiers);

    // A key went down or up; each returns whether the key is one of ours.
    bool press(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat);
    bool release(int key, bool autoRepeat);
    // Lets go of every held key at once (the window lost the keyboard).
    void releaseAll();
    bool isHeld(int key) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct HeldKey {
        bool down = false;
        bool releasing = false; // released, waiting out the grace time
        qint64 releaseAt = 0;   // on m_clock
        int note = -1;          // the note it started; -1 for the sustain pedal
    };

    static int slotOf(int key);
    void finish(HeldKey& held);
    void finishDueReleases();
    static QQuickItem* editedTextItem(QQuickWindow* window);
    static void giveKeysBackLater(QQuickWindow* window, QQuickItem* textItem);

    WorkstationController& m_controller;
    std::array<HeldKey, 27> m_keys{}; // 26 musical keys and Space
    QElapsedTimer m_clock;
    QTimer m_releaseTimer;
};

} // namespace tmb
