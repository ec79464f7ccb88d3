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
#include "platform/settings.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

#include <cstdio>

namespace {

// The user's choices kept between runs.
const char VERIFY_CHOICE[] = "verify-after-send";
const char ASK_EEPROM_CHOICE[] = "ask-before-eeprom-send";

// The parameter file the panels were last loaded from, "" when none was.
char loadedFrom[FILE_PATH_MAX];

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

// What goes into the EEPROM stays there when the controller is switched off,
// so the user is asked first, naming the line and where the set comes from,
// unless they said not to be asked again.
bool EepromSendConfirmed(void)
{
    if (!GetUserChoice(ASK_EEPROM_CHOICE, 1))
        return true;
    char port[256] = "";
    if (GetCtrlString(panelHandle, PANEL_COMPORT, port, sizeof port) < 0 || !port[0])
        std::snprintf(port, sizeof port, "COM%d", (int)com);
    char source[FILE_PATH_MAX + 64] = "the parameter panels";
    if (loadedFrom[0])
        std::snprintf(source, sizeof source, "the parameter panels (loaded from %s)", loadedFrom);
    char question[FILE_PATH_MAX + 512];
    std::snprintf(question, sizeof question,
                  "Send the parameter set of %s to the EEPROM of the controller on %s?\n\n"
                  "The controller keeps it when it is switched off.",
                  source, port);
    int dontAsk = 0;
    if (!ConfirmPopup("Send to EEPROM", question, "Send to EEPROM", &dontAsk))
        return false;
    if (dontAsk && SetUserChoice(ASK_EEPROM_CHOICE, 0) < 0)
        ShowStatus("Cannot save settings file!");
    return true;
}

// The write orders get no answer: only a read-back tells what the
// controller took.
void ShowVerifyOutcome(int32_t memory, const uint16_t sent[2][16])
{
    VerifyOutcome v;
    if (VerifyParaBlocks(memory, sent, &v)) {
        ShowStatus("Send verified: the controller holds what was sent");
        return;
    }
    if (v.unanswered) {
        ShowStatus("Send not verified: the read-back got no answer");
        return;
    }
    char difference[128], text[192];
    DescribeDifference(v.differences[0], difference, sizeof difference);
    if (v.count > 1)
        std::snprintf(text, sizeof text, "Verify failed: %s (and %d more)", difference, v.count - 1);
    else
        std::snprintf(text, sizeof text, "Verify failed: %s", difference);
    ShowStatus(text);
}

} // namespace

void ApplyUserChoices(void)
{
    SetCtrlVal(panelHandle, PANEL_CHK_VERIFY, GetUserChoice(VERIFY_CHOICE, 0) ? 1 : 0);
}

int CC_CHKVerifySend(int, int, int event, void *, int, int)
{
    if (event != EVENT_VAL_CHANGED)
        return 0;
    int on = 0;
    GetCtrlVal(panelHandle, PANEL_CHK_VERIFY, &on);
    if (SetUserChoice(VERIFY_CHOICE, on ? 1 : 0) < 0)
        ShowStatus("Cannot save settings file!");
    return 0;
}

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
    if (target == EEPROM && !EepromSendConfirmed()) {
        ShowStatus("Transmit cancelled - nothing sent");
        return 0;
    }
    uint16_t sent[2][16];
    PackParaBlocks(sent);
    const bool written = SendParaBlocks(target);
    int verify = 0;
    GetCtrlVal(panelHandle, PANEL_CHK_VERIFY, &verify);
    // A block that did not leave whole has already said so by its missing
    // OK text; reading back would only blur that.
    if (verify && written)
        ShowVerifyOutcome(target, sent);
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

void ShowReadParameters(void)
{
    loadedFrom[0] = '\0';
    SetPanelValues();
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
        if (ReadParaFromFile())
            CopyText(loadedFrom, sizeof loadedFrom, file_name);
    } else {
        loadedFrom[0] = '\0';
        order = (target == RAM) ? ORDER_READ_RAM : ORDER_READ_EEPROM;
        PushGET(target, CHANNEL_A);
        PushGET(target, CHANNEL_B);
    }
    SetPanelValues();
    return 0;
}
