// Drives the real widgets of the loaded panels the way an operator does:
// QTest key presses, typing, mouse clicks and wheel notches sent to the
// control's QWidget, with the focus changes they bring. Each returns false
// when the control is missing, hidden or dimmed (an operator cannot reach
// it) and then does nothing. Pump events afterwards as the program would
// (ProcessSystemEvents); what a click or key starts runs inside the call.
//
//   drive::Type(pHandle, "NUMPower", "700");        // edit in progress
//   drive::PanelKey(pHandle, "Ctrl+S");            // shortcut, focus stays
//   drive::Click(pHandle, "BTNSend");              // focus moves to the button
//   drive::Wheel(pHandle, "DropDCom", -1);         // one notch towards the operator
#pragma once

#include <cstddef>
#include <string>

#include <QString>
#include <QWidget>

class PtyPeer;

namespace drive {

// The QWidget of the control called `name` (its object name in the
// resource file) on a loaded panel; nullptr or "" gives the panel's window.
QWidget *Widget(int panel, const char *name);

// The same as a W; nullptr when it is missing or of another kind.
template <class W>
W *WidgetAs(int panel, const char *name) {
    return qobject_cast<W *>(Widget(panel, name));
}

// A key press and release sent straight to the widget, as the widget
// sees them: no focus change, no shortcuts of the window. For the
// run-time's own tests of what a widget does with a key.
void SendKey(QWidget *w, int key, const QString &text = QString());

// A left click at the widget's centre sent straight to it.
void SendClick(QWidget *w);

// Shows the panel and makes it the active window (keys go there).
bool Activate(int panel);

// Moves the keyboard focus to the control as Tab would: the control that
// had it gets its focus-out first (a spin box finishes its edit).
bool Focus(int panel, const char *name);

// Focus on the control, everything in it selected (Ctrl+A), then `text`
// typed key by key. The edit stays in progress: no Enter, no focus change.
bool Type(int panel, const char *name, const std::string &text);

// Presses keys ("Return", "Tab", "Down", "Space", "Ctrl+S") on the control;
// the focus moves there first. Shortcuts of the window see the keys first,
// as with a real keyboard; while a ring's list is open the keys go to it
// (here and in PanelKey).
bool Key(int panel, const char *name, const char *keys);

// Presses keys on the panel: they go to whatever control has the focus
// there (the panel itself when none has), shortcuts first; the focus stays.
bool PanelKey(int panel, const char *keys);

// Left mouse click (press and release) on the control: at its centre, at
// the indicator of a radio button or check box. The focus follows the
// control's focus policy, as with a real mouse.
bool Click(int panel, const char *name);

// Mouse-wheel notches over the control: positive turns away from the
// operator (up), negative towards him (down). No focus change.
bool Wheel(int panel, const char *name, int notches);

// Chooses an entry of a ring as an operator does: a click opens the list,
// the arrow keys move to the first entry whose text starts with `label`,
// Enter takes it. False (and the list closed with Esc) when there is none.
bool Choose(int panel, const char *name, const std::string &label);

// Whether the ring's list is open.
bool ListOpen(int panel, const char *name);

// Text the control shows (spin box text, ring item, label, line edit).
std::string Shown(int panel, const char *name);

// Whether the control has the keyboard focus.
bool HasFocus(int panel, const char *name);

// Reads up to n bytes the program wrote to the peer while its event loop
// keeps running, for at most `seconds`.
std::string ReadWire(PtyPeer &peer, size_t n, double seconds);

}   // namespace drive
