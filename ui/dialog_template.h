// The main window's and the About box's templates: controls, identifiers, dialog units.
#pragma once

#include <QRect>
#include <QString>

#include <array>

namespace quillon {

// Control identifiers of the main window.
inline constexpr int IDC_RUN = 1000;
inline constexpr int IDC_REPLY = 1001;
inline constexpr int IDC_DELAY = 1002;
inline constexpr int IDC_PICTURE = 1003;
inline constexpr int IDC_SPIN_ZOOM = 1004;
inline constexpr int IDC_ZOOM_BUDDY = 1005;
inline constexpr int IDC_TIMEBASE = 1006;
inline constexpr int IDC_GEN_PERIOD = 1008;
inline constexpr int IDC_GEN_TYPE = 1009;
inline constexpr int IDC_TRIGGER_MODE = 1010;
inline constexpr int IDC_TRIG_PATTERN = 1011;
inline constexpr int IDC_TRIG_POS = 1012;
inline constexpr int IDC_STOP = 1013;
inline constexpr int IDC_RATE_20NS = 1015;
inline constexpr int IDC_RATE_200NS = 1016;
inline constexpr int IDC_RATE_2US = 1017;
inline constexpr int IDC_RATE_20US = 1018;
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK = 1;

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_ANALYZER_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_BLANK = 129;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

enum class ControlKind {
    PushButton,
    Edit,
    UpDown,
    Picture,
    CheckBox,
    Static,
    Radio,
    GroupBox,
    Icon
};

/// One control of a template, in dialog units.
struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* caption; // UTF-8
    int x, y, w, h;
    bool visible;
    bool readOnly;
    bool tabStop;
};

// Main window, in template order (also tab and stacking order).
inline constexpr std::array<ControlTemplate, 22> kMainTemplate{{
    {IDC_RUN, ControlKind::PushButton, "Run", 364, 26, 36, 35, true, false, true},
    {IDC_ZOOM_BUDDY, ControlKind::Edit, "", 39, 249, 6, 15, false, true, true},
    {IDC_SPIN_ZOOM, ControlKind::UpDown, "", 81, 249, 31, 16, true, false, false},
    {IDC_REPLY, ControlKind::Edit, "", 363, 265, 12, 15, false, true, true},
    {IDC_DELAY, ControlKind::Edit, "", 382, 265, 12, 15, false, false, true},
    {IDC_PICTURE, ControlKind::Picture, "", 13, 15, 343, 213, true, false, false},
    {IDC_TIMEBASE, ControlKind::Edit, "", 47, 247, 30, 17, true, true, true},
    {IDC_GEN_PERIOD, ControlKind::Edit, "", 386, 249, 13, 12, false, false, true},
    {IDC_TRIGGER_MODE, ControlKind::CheckBox, "ﾄﾘｶﾞﾓｰﾄﾞ", 307, 251, 48, 16, true, false, true},
    {IDC_GEN_TYPE, ControlKind::Edit, "", 387, 234, 12, 12, false, false, true},
    {IDC_TRIG_PATTERN, ControlKind::Edit, "", 206, 252, 73, 15, true, false, true},
    {IDC_TRIG_POS, ControlKind::Edit, "", 150, 252, 18, 15, true, false, true},
    {IDC_STATIC, ControlKind::Static, "trigpos(1:0)", 142, 238, 38, 9, true, false, false},
    {IDC_STATIC, ControlKind::Static, "ﾄﾘｶﾞﾊﾟﾀｰﾝ(15:0)", 216, 238, 63, 9, true, false, false},
    {IDC_STATIC, ControlKind::Static, "genperiod(7:0)", 366, 249, 13, 9, false, false, false},
    {IDC_STATIC, ControlKind::Static, "gentype", 364, 233, 19, 9, false, false, false},
    {IDC_STOP, ControlKind::PushButton, "Stop", 364, 75, 36, 26, true, false, true},
    {IDC_RATE_20NS, ControlKind::Radio, "20ns", 369, 148, 31, 12, true, false, false},
    {IDC_RATE_200NS, ControlKind::Radio, "200ns", 369, 167, 36, 12, true, false, false},
    {IDC_RATE_2US, ControlKind::Radio, "2us", 369, 186, 30, 12, true, false, false},
    {IDC_RATE_20US, ControlKind::Radio, "20us", 369, 206, 33, 12, true, false, true},
    {IDC_STATIC, ControlKind::GroupBox, "ﾀｲﾐﾝｸﾞ速度", 364, 131, 43, 97, true, false, false},
}};
inline constexpr int kMainWidthDlu = 423;
inline constexpr int kMainHeightDlu = 300;

inline constexpr std::array<ControlTemplate, 4> kAboutTemplate{{
    {IDC_STATIC, ControlKind::Icon, "", 11, 17, 20, 20, true, false, false},
    {IDC_STATIC, ControlKind::Static, "Quillon Version 1.0", 40, 10, 119, 8, true, false, false},
    {IDC_STATIC, ControlKind::Static, "Copyright (C) 2026 Quillon developers", 40, 25, 119, 8, true,
     false, false},
    {IDOK, ControlKind::PushButton, "OK", 178, 7, 50, 16, true, false, true},
}};
inline constexpr int kAboutWidthDlu = 235;
inline constexpr int kAboutHeightDlu = 55;

// Dialog base units chosen so that the picture's 343 x 213 units come to 600 x 320 pixels.
inline constexpr int kBaseUnitX = 7;  // pixels per 4 horizontal units
inline constexpr int kBaseUnitY = 12; // pixels per 8 vertical units

/// Dialog units to pixels, rounded to nearest like the platform's MulDiv.
constexpr int DluToPixelsX(int dlu) {
    return (dlu * kBaseUnitX * 2 + 4) / 8;
}
constexpr int DluToPixelsY(int dlu) {
    return (dlu * kBaseUnitY * 2 + 8) / 16;
}
inline QRect DluRect(const ControlTemplate& c) {
    return {DluToPixelsX(c.x), DluToPixelsY(c.y), DluToPixelsX(c.w), DluToPixelsY(c.h)};
}

} // namespace quillon
