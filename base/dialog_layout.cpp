#include "dialogs.h"
#include "message.h"
#include <string.h>

namespace {

constexpr int MaxControls = 16;
// In dialog units: a control this close to an edge stands at it; a static text
// this tall was laid out for more than one line; a control whose top is this
// close below another's bottom lies below it.
constexpr int EdgeUnits = 12;
constexpr int LinesUnits = 16;
constexpr int BelowUnits = 4;

enum Kind { Untouched, PushButton, GroupBox, OneLine, Lines };

// A rectangle's edges by axis (0 across, 1 down): the near one at [axis], the far one at [axis + 2].
using Edges = long[4];

struct Placement {
    HWND window;
    Kind kind;
    int box;    // the group box around it, -1 for none
    Edges was;  // where the template put it, in the dialog's client area
    Edges now;
};

struct Layout {
    Placement controls[MaxControls];
    int count;
    Edges client;
    Edges units; // EdgeUnits and LinesUnits, then 0 and BelowUnits, in pixels
    HDC dc;
    TEXTMETRICA metrics;
};

Kind KindOf(HWND control, long height, long linesHeight)
{
    char name[8];
    GetClassNameA(control, name, sizeof name);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    if (GetWindowTextLengthA(control) == 0)
        return Untouched;
    if (lstrcmpiA(name, "Button") == 0) {
        LONG type = style & BS_TYPEMASK;
        return type == BS_GROUPBOX ? GroupBox : type <= BS_DEFPUSHBUTTON ? PushButton : Untouched;
    }
    if (lstrcmpiA(name, "Static") != 0 || (style & SS_TYPEMASK) > SS_RIGHT)
        return Untouched;
    return height >= linesHeight ? Lines : OneLine;
}

// How much larger along the axis a control must be for its text, in the
// dialog's font: a text of lines wraps at the control's width (and widens
// only for a word that cannot be broken).
long Shortfall(Layout& layout, const Placement& control, int axis)
{
    // Measured as the controls draw it, in UTF-16: DrawTextA would read the
    // bytes in the code page of the font's character set, not the process's.
    wchar_t text[MessageBufferSize];
    int length = GetWindowTextW(control.window, text, MessageBufferSize);
    RECT room = {0, 0, control.now[2] - control.now[0], 0};
    DrawTextW(layout.dc, text, length, &room,
        DT_CALCRECT | DT_EXPANDTABS | (control.kind == Lines ? DT_WORDBREAK : DT_SINGLELINE));
    long needed[2] = {room.right, room.bottom};
    // A button's frame and a group box's indent around the text, as the controls draw them.
    if (control.kind == PushButton) {
        needed[0] += 2 * layout.metrics.tmAveCharWidth + 4 * GetSystemMetrics(SM_CXEDGE);
        needed[1] += 2 * GetSystemMetrics(SM_CYEDGE);
    } else if (control.kind == GroupBox) {
        needed[0] += 3 * layout.metrics.tmAveCharWidth;
        needed[1] = 0;
    }
    return control.kind == Untouched ? 0 : needed[axis] - (control.now[axis + 2] - control.now[axis]);
}

// Makes a control larger along the axis: what lies beyond it in its row (or
// column) moves along, as far from it as it was (or, where the template let
// them touch, just clear of it), and its group box grows with it.
void Grow(Layout& layout, int grown, int axis, long by)
{
    const Placement& control = layout.controls[grown];
    const long* was = control.was;
    layout.controls[grown].now[axis + 2] += by;
    int across = 1 - axis;
    for (int i = 0; i < layout.count; ++i) {
        Placement& other = layout.controls[i];
        if (i != grown && other.was[axis] >= was[axis + 2] - layout.units[axis + 2]
            && other.was[across] < was[across + 2] && was[across] < other.was[across + 2]) {
            long gap = other.was[axis] - was[axis + 2];
            long shift = control.now[axis + 2] + (gap > 0 ? gap : 0) - other.now[axis];
            if (shift > 0) {
                other.now[axis] += shift;
                other.now[axis + 2] += shift;
            }
        } else if (i == control.box) {
            other.now[axis + 2] += by;
        }
    }
}

void LayOut(Layout& layout)
{
    for (int axis = 0; axis < 2; ++axis) {
        for (int i = 0; i < layout.count; ++i) {
            long by = Shortfall(layout, layout.controls[i], axis);
            if (by > 0)
                Grow(layout, i, axis, by);
        }
        // The dialog holds what it held, each control as far from its far edge;
        // what stood at that edge stays there, then what stood at a group box's.
        long extent = layout.client[axis + 2];
        for (int i = 0; i < layout.count; ++i) {
            const Placement& control = layout.controls[i];
            long reach = control.now[axis + 2] + layout.client[axis + 2] - control.was[axis + 2];
            if (control.box < 0 && reach > extent)
                extent = reach;
        }
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 0; i < layout.count; ++i) {
                Placement& control = layout.controls[i];
                if ((control.box < 0) != (pass == 0))
                    continue;
                const long* box = control.box < 0 ? layout.client : layout.controls[control.box].was;
                long edge = control.box < 0 ? extent : layout.controls[control.box].now[axis + 2];
                long gap = box[axis + 2] - control.was[axis + 2];
                long by = edge - gap - control.now[axis + 2];
                if (gap > layout.units[axis] || by <= 0)
                    continue;
                // One that also stood at the near edge stretches; any other moves.
                if (control.was[axis] - box[axis] > layout.units[axis])
                    control.now[axis] += by;
                control.now[axis + 2] += by;
            }
        layout.client[axis + 2] = extent;
    }
}

} // namespace

void FitDialog(HWND dialog)
{
    Layout layout = {};
    RECT client;
    GetClientRect(dialog, &client);
    RECT units = {EdgeUnits, LinesUnits, 0, BelowUnits};
    MapDialogRect(dialog, &units);
    memcpy(layout.client, &client, sizeof client);
    memcpy(layout.units, &units, sizeof units);
    for (HWND control = GetWindow(dialog, GW_CHILD); control && layout.count < MaxControls;
         control = GetWindow(control, GW_HWNDNEXT)) {
        Placement& placed = layout.controls[layout.count++];
        placed.window = control;
        GetWindowRect(control, reinterpret_cast<RECT*>(placed.was));
        // Two points: a mirrored dialog's rectangle comes back with its left edge first.
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(placed.was), 2);
        memcpy(placed.now, placed.was, sizeof placed.now);
        placed.kind = KindOf(control, placed.was[3] - placed.was[1], units.top);
    }
    for (int i = 0; i < layout.count; ++i) {
        Placement& control = layout.controls[i];
        control.box = -1;
        for (int j = 0; j < layout.count; ++j) {
            const long* outer = layout.controls[j].was;
            if (j != i && layout.controls[j].kind == GroupBox && outer[0] <= control.was[0] && outer[1] <= control.was[1]
                && outer[2] >= control.was[2] && outer[3] >= control.was[3])
                control.box = j;
        }
    }
    layout.dc = GetDC(dialog);
    HGDIOBJ kept = SelectObject(layout.dc, reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
    GetTextMetricsA(layout.dc, &layout.metrics);
    LayOut(layout);
    SelectObject(layout.dc, kept);
    ReleaseDC(dialog, layout.dc);
    for (int i = 0; i < layout.count; ++i) {
        const long* now = layout.controls[i].now;
        SetWindowPos(layout.controls[i].window, nullptr, now[0], now[1], now[2] - now[0], now[3] - now[1],
            SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame;
    memcpy(&frame, layout.client, sizeof frame);
    if (EqualRect(&frame, &client))
        return;
    AdjustWindowRectEx(&frame, DWORD(GetWindowLongA(dialog, GWL_STYLE)), FALSE,
        DWORD(GetWindowLongA(dialog, GWL_EXSTYLE)));
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Back onto its monitor's work area, as far as it fits, where it grew past its edge.
    MONITORINFO monitor = {sizeof monitor, {}, {}, 0};
    if (!GetWindowRect(dialog, &frame)
        || !GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    const RECT& work = monitor.rcWork;
    long x = frame.left - (frame.right > work.right ? frame.right - work.right : 0);
    long y = frame.top - (frame.bottom > work.bottom ? frame.bottom - work.bottom : 0);
    x = x < work.left ? work.left : x;
    y = y < work.top ? work.top : y;
    if (x != frame.left || y != frame.top)
        SetWindowPos(dialog, nullptr, int(x), int(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
