// transfer.cpp - the parameter source (RAM, EEPROM, file) and the send and
// get commands that move both channels' parameter sets at once.
//
// The radio buttons are not exclusive by themselves: the callbacks keep
// exactly one on, and switching the chosen one off falls back to RAM.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

namespace {

void ChooseSource(int event, int own, int32_t source, int other1, int other2)
{
    if (event != EVENT_VAL_CHANGED)
        return;
    int on = 0;
    GetCtrlVal(panelHandle, own, &on);
    if (on) {
        SetCtrlVal(panelHandle, own, 1);
        target = source;
        SetCtrlVal(panelHandle, other1, 0);
        SetCtrlVal(panelHandle, other2, 0);
    } else {
        target = RAM;
        SetCtrlVal(panelHandle, PANEL_RBT_RAM, 1);
    }
}

bool SendBlock(uint16_t channel, const char *okText)
{
    CopyVarsToPP(channel);
    FillTxBuf(order, pp);
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
    if (nBytesW == FRAME_BYTES)
        ShowStatus(okText);
    return nBytesW == FRAME_BYTES;
}

} // namespace

int CC_RBTRam(int, int, int event, void *, int, int)
{
    ChooseSource(event, PANEL_RBT_RAM, RAM, PANEL_RBT_EEPROM, PANEL_RBT_FILE);
    return 0;
}

int CC_RBTEeprom(int, int, int event, void *, int, int)
{
    ChooseSource(event, PANEL_RBT_EEPROM, EEPROM, PANEL_RBT_RAM, PANEL_RBT_FILE);
    return 0;
}

int CC_RBTFile(int, int, int event, void *, int, int)
{
    ChooseSource(event, PANEL_RBT_FILE, DATFILE, PANEL_RBT_EEPROM, PANEL_RBT_RAM);
    return 0;
}

// Acts on the mouse press alone, so a commit without a press (keyboard)
// sends nothing.
int CC_BTNSend(int, int, int event, void *, int, int)
{
    if (event != EVENT_LEFT_CLICK)
        return 0;
    ShowStatus("Transmit...");
    if (target == DATFILE) {
        if (ParaFileDialog(FILE_BUTTON_OK) > 0)
            SendParaToFile();
        return 0;
    }
    GetPanelValues();
    SendParaBlocks(target);
    return 0;
}

bool SendParaBlocks(int32_t destination)
{
    order = (destination == EEPROM) ? ORDER_WRITE_EEPROM : ORDER_WRITE_RAM;
    const bool a = SendBlock(CHANNEL_A, "Transmit para A OK!");
    // The controller stores one block before it can take the next.
    Delay(0.1);
    const bool b = SendBlock(CHANNEL_B, "Transmit para B OK!");
    return a && b;
}

int CC_BTNGet(int, int, int event, void *, int, int)
{
    if (event == EVENT_LEFT_CLICK) {
        ShowStatus("Receive...");
        return 0;
    }
    if (event != EVENT_COMMIT)
        return 0;
    if (target == DATFILE) {
        ReadParaFromFile();
    } else {
        order = (target == RAM) ? ORDER_READ_RAM : ORDER_READ_EEPROM;
        PushGET(target, CHANNEL_A);
        PushGET(target, CHANNEL_B);
    }
    SetPanelValues();
    return 0;
}
