#include "shortcuts/KeyCodes.h"

#include <QHash>

namespace KeyCodes {

namespace {

struct Row {
    int keyCode;
    quint32 keysym;
};

// ANSI positions. Letters use their lower-case keysyms: that is what the plain column of a key holds.
constexpr Row rows[] = {
    {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},      {4, 'h'},      {5, 'g'},      {6, 'z'},
    {7, 'x'},      {8, 'c'},      {9, 'v'},      {11, 'b'},     {12, 'q'},     {13, 'w'},     {14, 'e'},
    {15, 'r'},     {16, 'y'},     {17, 't'},     {18, '1'},     {19, '2'},     {20, '3'},     {21, '4'},
    {22, '6'},     {23, '5'},     {24, '='},     {25, '9'},     {26, '7'},     {27, '-'},     {28, '8'},
    {29, '0'},     {30, ']'},     {31, 'o'},     {32, 'u'},     {33, '['},     {34, 'i'},     {35, 'p'},
    {36, 0xff0d},  {37, 'l'},     {38, 'j'},     {39, '\''},    {40, 'k'},     {41, ';'},     {42, '\\'},
    {43, ','},     {44, '/'},     {45, 'n'},     {46, 'm'},     {47, '.'},     {48, 0xff09},  {49, ' '},
    {50, '`'},     {51, 0xff08},  {53, 0xff1b},  {64, 0xffce},  {65, 0xffae},  {67, 0xffaa},  {69, 0xffab},
    {75, 0xffaf},  {76, 0xff8d},  {78, 0xffad},  {79, 0xffcf},  {80, 0xffd0},  {81, 0xffbd},  {82, 0xffb0},
    {83, 0xffb1},  {84, 0xffb2},  {85, 0xffb3},  {86, 0xffb4},  {87, 0xffb5},  {88, 0xffb6},  {89, 0xffb7},
    {90, 0xffd1},  {91, 0xffb8},  {92, 0xffb9},  {96, 0xffc2},  {97, 0xffc3},  {98, 0xffc4},  {99, 0xffc0},
    {100, 0xffc5}, {101, 0xffc6}, {103, 0xffc8}, {105, 0xffca}, {106, 0xffcd}, {107, 0xffcb}, {109, 0xffc7},
    {111, 0xffc9}, {113, 0xffcc}, {114, 0xff63}, {115, 0xff50}, {116, 0xff55}, {117, 0xffff}, {118, 0xffc1},
    {119, 0xff57}, {120, 0xffbf}, {121, 0xff56}, {122, 0xffbe}, {123, 0xff51}, {124, 0xff53}, {125, 0xff54},
    {126, 0xff52},
};

constexpr quint32 XK_F13 = 0xffca, XK_F20 = 0xffd1;
constexpr quint32 XK_KP_Multiply = 0xffaa, XK_KP_9 = 0xffb9, XK_KP_Equal = 0xffbd;

} // namespace

quint32 keysym(int keyCode) {
    for (const Row& row : rows)
        if (row.keyCode == keyCode)
            return row.keysym;
    return 0;
}

std::optional<int> keyCode(quint32 sym) {
    if (sym >= 'A' && sym <= 'Z')
        sym += 'a' - 'A';
    for (const Row& row : rows)
        if (row.keysym == sym)
            return row.keyCode;
    return std::nullopt;
}

QString characters(quint32 sym) {
    if (sym >= XK_F13 && sym <= XK_F20)
        return QStringLiteral("F%1").arg(13 + int(sym - XK_F13));
    // Keypad keysyms type their ASCII counterpart, 0xff80 below the keysym.
    if ((sym >= XK_KP_Multiply && sym <= XK_KP_9) || sym == XK_KP_Equal)
        sym -= 0xff80;
    if ((sym >= 0x20 && sym <= 0x7e) || (sym >= 0xa0 && sym <= 0xff))
        return QString(QChar(char16_t(sym))).toUpper();
    // Keysyms of the form 0x01xxxxxx carry a Unicode code point.
    if ((sym & 0xff000000u) == 0x01000000u) {
        const char32_t point = sym & 0x00ffffffu;
        return QString::fromUcs4(&point, 1).toUpper();
    }
    return {};
}

} // namespace KeyCodes
