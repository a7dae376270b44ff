#include "controls/VClExt.h"

#include "platform/Controls.h"

int BottomOf(const TControl& control) {
    return control.Top() + control.Height();
}

void SetBold(TFont& font, bool bold) {
    font.SetStyle(bold ? (font.Style() | fsBold) : (font.Style() & ~TFontStyles(fsBold)));
}

void ApplyStandardFont(TFont& font) {
    font.SetColor(clWindowText);
    font.SetName(L"Tahoma");
    font.SetPitch(TFontPitch::fpDefault);
    font.SetHeight(-11);
}
