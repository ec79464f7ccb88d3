// logo.cpp - the brand records and the banner they produce. The banner is
// drawn once at start-up; a second ShowLogo would lay a second set of texts
// over the first, as nothing removes the text controls it creates.
#include "brand/logo.h"

#include "state/qvar.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

namespace {

enum Layout { SHORT_LAYOUT, FULL_LAYOUT };

struct BrandRecord {
    bool        exists;
    int         banner;        // banner colour, also the texts' background
    int         text;          // text colour
    const char *logo;          // bitmap file; nullptr hides the picture
    int         logoLeft, logoTop;
    Layout      layout;
    const char *company, *telephone, *web;
};

const int WHITE = 0xFFFFFF, GREY = 0x808080, BLUE = 0x0080FF;

const BrandRecord BRANDS[7] = {
    {true, WHITE, GREY, nullptr, 0, 0, SHORT_LAYOUT, nullptr, nullptr, nullptr},
    {true, BLUE, WHITE, nullptr, 0, 0, SHORT_LAYOUT, nullptr, nullptr, nullptr},
    {true, BLUE, WHITE, "logo_brand2.bmp", 175, 6, FULL_LAYOUT,
     "Example Sensor Systems", "Tel. +1 555 0100", "www.example.com"},
    {true, WHITE, GREY, "logo_brand3.bmp", 470, 8, SHORT_LAYOUT, nullptr, nullptr, nullptr},
    {true, BLUE, WHITE, "logo_brand4.bmp", 470, 7, FULL_LAYOUT,
     "Sample Measurement Works", "Tel. +1 555 0142", "www.example.org"},
    {false, 0, 0, nullptr, 0, 0, SHORT_LAYOUT, nullptr, nullptr, nullptr},
    {true, WHITE, GREY, "logo_brand6.bmp", 470, 7, FULL_LAYOUT,
     "Placeholder Controls", "Tel. +1 555 0199", "www.example.net"},
};

} // namespace

void ShowInfoText(int background, int foreground, const char *text, int left, int top, int size)
{
    int id = NewCtrl(panelHandle, CTRL_TEXT_MSG, "", top, left);
    SetCtrlAttribute(panelHandle, id, ATTR_TEXT_FONT, FONT_APPLICATION);
    // Italic rather than bold: the name's fixed place leaves room for an
    // upright-width 16-pixel name only.
    SetCtrlAttribute(panelHandle, id, ATTR_TEXT_ITALIC, 1);
    SetCtrlAttribute(panelHandle, id, ATTR_TEXT_BGCOLOR, background);
    SetCtrlAttribute(panelHandle, id, ATTR_TEXT_COLOR, foreground);
    SetCtrlAttribute(panelHandle, id, ATTR_TEXT_POINT_SIZE, size);
    SetCtrlVal(panelHandle, id, text);
}

void ShowLogo(int index)
{
    if (index < 0 || index > 6 || !BRANDS[index].exists)
        return;
    const BrandRecord &b = BRANDS[index];

    SetCtrlAttribute(panelHandle, PANEL_LOGO_BG, ATTR_FRAME_COLOR, b.banner);
    if (b.logo == nullptr) {
        SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_VISIBLE, 0);
    } else {
        SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_TOP, b.logoTop);
        SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_LEFT, b.logoLeft);
        DisplayImageFile(panelHandle, PANEL_LOGO_PIC, b.logo);
    }

    if (b.layout == FULL_LAYOUT) {
        ShowInfoText(b.banner, b.text, b.company, 15, 7, 11);
        ShowInfoText(b.banner, b.text, b.telephone, 15, 22, 11);
        ShowInfoText(b.banner, b.text, b.web, 15, 37, 11);
        ShowInfoText(b.banner, b.text, szSoftname, 220, 32, 16);
        ShowInfoText(b.banner, b.text, szSoftversion, 380, 36, 11);
    } else {
        ShowInfoText(b.banner, b.text, szSoftname, 20, 20, 16);
        ShowInfoText(b.banner, b.text, szSoftversion, 180, 24, 11);
    }
}
