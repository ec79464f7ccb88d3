// panel_binding.cpp - the bridge between the parameter panels and the
// parameter variables, and the live-value displays of the main panel.
//
// The trigger word carries two fields: bits 15-14 come from the trigger-bits
// selector (whose values are the bits already in place), bits 13-0 from the
// trigger-level control.
#include "state/qvar.h"
#include "params/params.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

namespace {

int32_t TriggerWord(int panel, int bitsCtrl, int levelCtrl)
{
    int bits = 0, level = 0;
    GetCtrlVal(panel, bitsCtrl, &bits);
    GetCtrlVal(panel, levelCtrl, &level);
    return level | (bits & 0xFFFF);
}

void ShowTriggerWord(int panel, int bitsCtrl, int levelCtrl, int32_t word)
{
    SetCtrlVal(panel, bitsCtrl, (int)(word & 0xC000));
    SetCtrlVal(panel, levelCtrl, (int)(word & 0x3FFF));
}

} // namespace

void GetPanelValues(void)
{
    GetCtrlVal(panelPARA_A, PARA_A_POWER, &powerA);
    GetCtrlVal(panelPARA_B, PARA_B_POWER, &powerB);
    GetCtrlVal(panelPARA_A, PARA_A_REF, &refA);
    GetCtrlVal(panelPARA_B, PARA_B_REF, &refB);
    GetCtrlVal(panelPARA_A, PARA_A_TOL, &tolA);
    GetCtrlVal(panelPARA_B, PARA_B_TOL, &tolB);
    GetCtrlVal(panelPARA_A, PARA_A_PRETRIGGER, &pretriggerA);
    GetCtrlVal(panelPARA_B, PARA_B_PRETRIGGER, &pretriggerB);

    triglvlA = TriggerWord(panelPARA_A, PARA_A_TRIGBITS, PARA_A_TRIGLEVEL);
    triglvlB = TriggerWord(panelPARA_B, PARA_B_TRIGBITS, PARA_B_TRIGLEVEL);

    GetCtrlVal(panelPARA_C, PARA_C_HYSTERESIS, &hysteresis);
    GetCtrlVal(panelPARA_C, PARA_C_HWMODE, &hwmode);
    GetCtrlVal(panelPARA_C, PARA_C_AVERAGE, &average);
    GetCtrlVal(panelPARA_C, PARA_C_POLARITY, &polarity);
    GetCtrlVal(panelPARA_C, PARA_C_HOLD, &hold);
    GetCtrlVal(panelPARA_C, PARA_C_EVALMODE, &evalmode);
    GetCtrlVal(panelPARA_C, PARA_C_TRIGMODE, &trigmode);
    GetCtrlVal(panelPARA_C, PARA_C_OUTMODE, &outmode);
    GetCtrlVal(panelPARA_C, PARA_C_ANAMODE, &anamode);
}

void SetPanelValues(void)
{
    SetCtrlVal(panelPARA_A, PARA_A_POWER, powerA);
    SetCtrlVal(panelPARA_B, PARA_B_POWER, powerB);
    SetCtrlVal(panelPARA_A, PARA_A_REF, refA);
    SetCtrlVal(panelPARA_B, PARA_B_REF, refB);
    SetCtrlVal(panelPARA_A, PARA_A_TOL, tolA);
    SetCtrlVal(panelPARA_B, PARA_B_TOL, tolB);
    SetCtrlVal(panelPARA_A, PARA_A_PRETRIGGER, pretriggerA);
    SetCtrlVal(panelPARA_B, PARA_B_PRETRIGGER, pretriggerB);

    ShowTriggerWord(panelPARA_A, PARA_A_TRIGBITS, PARA_A_TRIGLEVEL, triglvlA);
    ShowTriggerWord(panelPARA_B, PARA_B_TRIGBITS, PARA_B_TRIGLEVEL, triglvlB);

    SetCtrlVal(panelPARA_C, PARA_C_HYSTERESIS, hysteresis);
    SetCtrlVal(panelPARA_C, PARA_C_HWMODE, hwmode);
    SetCtrlVal(panelPARA_C, PARA_C_AVERAGE, average);
    SetCtrlVal(panelPARA_C, PARA_C_POLARITY, polarity);
    SetCtrlVal(panelPARA_C, PARA_C_HOLD, hold);
    SetCtrlVal(panelPARA_C, PARA_C_EVALMODE, evalmode);
    SetCtrlVal(panelPARA_C, PARA_C_TRIGMODE, trigmode);
    SetCtrlVal(panelPARA_C, PARA_C_OUTMODE, outmode);
    SetCtrlVal(panelPARA_C, PARA_C_ANAMODE, anamode);
}

void SetPanelDATA(void)
{
    SetCtrlVal(panelHandle, PANEL_NORM_A, (int)valNORMA);
    SetCtrlVal(panelHandle, PANEL_NORM_B, (int)valNORMB);
    SetCtrlVal(panelHandle, PANEL_RAW_A, (int)adcCHA);
    SetCtrlVal(panelHandle, PANEL_RAW_B, (int)adcCHB);
    SetCtrlVal(panelHandle, PANEL_AMAX, (int)Amax);
    SetCtrlVal(panelHandle, PANEL_BMAX, (int)Bmax);
    SetCtrlVal(panelHandle, PANEL_MAXVAL_A, (int)MAXvalA);
    SetCtrlVal(panelHandle, PANEL_MINVAL_A, (int)MINvalA);
    SetCtrlVal(panelHandle, PANEL_MAXVAL_B, (int)MAXvalB);
    SetCtrlVal(panelHandle, PANEL_MINVAL_B, (int)MINvalB);
    SetCtrlVal(panelHandle, PANEL_TOLVAL, (int)tolval);

    // Only the four combinations of the two input bits are meaningful; any
    // other word leaves the LEDs as they were.
    switch (inputs) {
    case 0x0000: SetCtrlVal(panelHandle, PANEL_LED_IN1, 0); SetCtrlVal(panelHandle, PANEL_LED_IN2, 0); break;
    case 0x0001: SetCtrlVal(panelHandle, PANEL_LED_IN1, 1); SetCtrlVal(panelHandle, PANEL_LED_IN2, 0); break;
    case 0x0100: SetCtrlVal(panelHandle, PANEL_LED_IN1, 0); SetCtrlVal(panelHandle, PANEL_LED_IN2, 1); break;
    case 0x0101: SetCtrlVal(panelHandle, PANEL_LED_IN1, 1); SetCtrlVal(panelHandle, PANEL_LED_IN2, 1); break;
    default: break;
    }
}
