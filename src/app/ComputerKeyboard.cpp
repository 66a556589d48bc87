#include "ComputerKeyboard.h"

#include "app/WorkstationController.h"

#include <QKeyEvent>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>

namespace tmb {

namespace {

struct MusicalKey {
    int key;
    int note;
};

// The lower row from C3, the upper row from C4.
constexpr std::array<MusicalKey, 26> musicalKeys{{
    {Qt::Key_Z, 48},     {Qt::Key_S, 49}, {Qt::Key_X, 50}, {Qt::Key_D, 51}, {Qt::Key_C, 52}, {Qt::Key_V, 53},
    {Qt::Key_G, 54},     {Qt::Key_B, 55}, {Qt::Key_H, 56}, {Qt::Key_N, 57}, {Qt::Key_J, 58}, {Qt::Key_M, 59},
    {Qt::Key_Comma, 60}, {Qt::Key_Q, 60}, {Qt::Key_2, 61}, {Qt::Key_W, 62}, {Qt::Key_3, 63}, {Qt::Key_E, 64},
    {Qt::Key_R, 65},     {Qt::Key_5, 66}, {Qt::Key_T, 67}, {Qt::Key_6, 68}, {Qt::Key_Y, 69}, {Qt::Key_7, 70},
    {Qt::Key_U, 71},     {Qt::Key_I, 72},
}};
constexpr int spaceSlot = static_cast<int>(musicalKeys.size());

// With Shift, the digits and the comma arrive as their symbols (US layout).
int unshifted(int key) {
    switch (key) {
    case Qt::Key_At:
        return Qt::Key_2;
    case Qt::Key_NumberSign:
        return Qt::Key_3;
    case Qt::Key_Percent:
        return Qt::Key_5;
    case Qt::Key_AsciiCircum:
        return Qt::Key_6;
    case Qt::Key_Ampersand:
        return Qt::Key_7;
    case Qt::Key_Less:
        return Qt::Key_Comma;
    default:
        return key;
    }
}

} // namespace

ComputerKeyboard::ComputerKeyboard(WorkstationController& controller, QObject* parent)
    : QObject(parent)
    , m_controller(controller) {
    m_clock.start();
    m_releaseTimer.setSingleShot(true);
    connect(&m_releaseTimer, &QTimer::timeout, this, &ComputerKeyboard::finishDueReleases);
}

int ComputerKeyboard::slotOf(int key) {
    key = unshifted(key);
    if (key == Qt::Key_Space) return spaceSlot;
    for (std::size_t i = 0; i < musicalKeys.size(); ++i)
        if (musicalKeys[i].key == key) return static_cast<int>(i);
    return -1;
}

int ComputerKeyboard::noteForKey(int key) {
    const int slot = slotOf(key);
    return slot < 0 || slot == spaceSlot ? -1 : musicalKeys[static_cast<std::size_t>(slot)].note;
}

int ComputerKeyboard::velocityFor(Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::ShiftModifier) return 120;
    if (modifiers & Qt::ControlModifier) return 74;
    return 106;
}

bool ComputerKeyboard::isHeld(int key) const {
    const int slot = slotOf(key);
    return slot >= 0 && m_keys[static_cast<std::size_t>(slot)].down;
}

bool ComputerKeyboard::press(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    const int slot = slotOf(key);
    if (slot < 0) return false;
    HeldKey& held = m_keys[static_cast<std::size_t>(slot)];
    if (held.down) {
        // A repeat, flagged or not; after a release it shows the key never went up.
        held.releasing = false;
        return true;
    }
    // The repeat of a key that went down while a text field had the keys.
    if (autoRepeat) return true;
    held.down = true;
    if (slot == spaceSlot) {
        held.note = -1;
        m_controller.setSustainPedal(true);
    } else {
        held.note = noteForKey(key);
        m_controller.noteOn(held.note, velocityFor(modifiers));
    }
    return true;
}

bool ComputerKeyboard::release(int key, bool autoRepeat) {
    const int slot = slotOf(key);
    if (slot < 0) return false;
    HeldKey& held = m_keys[static_cast<std::size_t>(slot)];
    if (!held.down || autoRepeat) return true;
    held.releasing = true;
    held.releaseAt = m_clock.elapsed() + releaseGraceMs;
    if (!m_releaseTimer.isActive()) m_releaseTimer.start(releaseGraceMs);
    return true;
}

void ComputerKeyboard::finish(HeldKey& held) {
    held.down = false;
    held.releasing = false;
    if (held.note < 0) {
        m_controller.setSustainPedal(false);
        return;
    }
    // The comma and Q share C4: the note sounds while either is down.
    const bool stillHeld = std::any_of(m_keys.begin(), m_keys.end(),
                                       [&](const HeldKey& k) { return k.down && k.note == held.note; });
    if (!stillHeld) m_controller.noteOff(held.note);
}

void ComputerKeyboard::finishDueReleases() {
    const qint64 now = m_clock.elapsed();
    qint64 next = -1;
    for (HeldKey& held : m_keys) {
        if (!held.releasing) continue;
        if (held.releaseAt <= now)
            finish(held);
        else
            next = next < 0 ? held.releaseAt : std::min(next, held.releaseAt);
    }
    if (next >= 0) m_releaseTimer.start(static_cast<int>(std::max<qint64>(1, next - now)));
}

void ComputerKeyboard::releaseAll() {
    m_releaseTimer.stop();
    for (HeldKey& held : m_keys)
        if (held.down) finish(held);
}

// ---------------------------------------------------------------- the window's events

QQuickItem* ComputerKeyboard::editedTextItem(QQuickWindow* window) {
    QQuickItem* item = window->activeFocusItem();
    if (!item || !(item->inherits("QQuickTextInput") || item->inherits("QQuickTextEdit"))) return nullptr;
    return item->property("readOnly").toBool() ? nullptr : item;
}

void ComputerKeyboard::giveKeysBackLater(QQuickWindow* window, QQuickItem* textItem) {
    // After the event has reached the field (Enter still accepts its text).
    QTimer::singleShot(0, textItem, [window = QPointer<QQuickWindow>(window), textItem] {
        if (!window || window->activeFocusItem() != textItem) return;
        textItem->setFocus(false);
        if (window->activeFocusItem() == textItem) window->contentItem()->forceActiveFocus();
    });
}

bool ComputerKeyboard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::MouseButtonPress &&
        type != QEvent::TouchBegin && type != QEvent::FocusOut)
        return false;
    // Top-level scene windows only: a dialog window keeps its keys.
    auto* window = qobject_cast<QQuickWindow*>(watched);
    if (!window || window->transientParent()) return false;

    if (type == QEvent::FocusOut) {
        // The key-ups will go to another window.
        releaseAll();
        return false;
    }
    if (type == QEvent::MouseButtonPress || type == QEvent::TouchBegin) {
        QQuickItem* text = editedTextItem(window);
        auto* pointer = static_cast<QPointerEvent*>(event);
        if (text && pointer->pointCount() > 0 &&
            !text->contains(text->mapFromScene(pointer->point(0).scenePosition())))
            giveKeysBackLater(window, text);
        return false;
    }

    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    const int key = keyEvent->key();
    // A held key's release is ours wherever the focus has gone since.
    if (type == QEvent::KeyRelease && isHeld(key)) return release(key, keyEvent->isAutoRepeat());
    if (QQuickItem* text = editedTextItem(window)) {
        if (type == QEvent::KeyPress &&
            (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape))
            giveKeysBackLater(window, text);
        return false;
    }
    return type == QEvent::KeyPress ? press(key, keyEvent->modifiers(), keyEvent->isAutoRepeat())
                                    : release(key, keyEvent->isAutoRepeat());
}

} // namespace tmb
