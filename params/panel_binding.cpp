// panel_binding.cpp - the bridge between the parameter panels and the
// parameter variables, and the live-value displays of the main panel.
//
// The trigger word carries two fields: bits 15-14 come from the trigger-bits
// selector (whose values are the bits already in place), bits 13-0 from the
// trigger-level control.
#include "state/qvar.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

namespace {

// Every parameter control but the two trigger-word pairs, with the variable
// it shows.
struct Binding {
    const int *panel;
    int        control;
    int32_t   *variable;
};

const Binding BINDINGS[] = {
    {&panelPARA_A, PARA_A_POWER, &powerA},
    {&panelPARA_B, PARA_B_POWER, &powerB},
    {&panelPARA_A, PARA_A_REF, &refA},
    {&panelPARA_B, PARA_B_REF, &refB},
    {&panelPARA_A, PARA_A_TOL, &tolA},
    {&panelPARA_B, PARA_B_TOL, &tolB},
    {&panelPARA_A, PARA_A_PRETRIGGER, &pretriggerA},
    {&panelPARA_B, PARA_B_PRETRIGGER, &pretriggerB},
    {&panelPARA_C, PARA_C_HYSTERESIS, &hysteresis},
    {&panelPARA_C, PARA_C_HWMODE, &hwmode},
    {&panelPARA_C, PARA_C_AVERAGE, &average},
    {&panelPARA_C, PARA_C_POLARITY, &polarity},
    {&panelPARA_C, PARA_C_HOLD, &hold},
    {&panelPARA_C, PARA_C_EVALMODE, &evalmode},
    {&panelPARA_C, PARA_C_TRIGMODE, &trigmode},
    {&panelPARA_C, PARA_C_OUTMODE, &outmode},
    {&panelPARA_C, PARA_C_ANAMODE, &anamode},
};

// The trigger word of each channel: selector and level control.
struct TriggerBinding {
    const int *panel;
    int        bitsCtrl, levelCtrl;
    int32_t   *word;
};

const TriggerBinding TRIGGERS[] = {
    {&panelPARA_A, PARA_A_TRIGBITS, PARA_A_TRIGLEVEL, &triglvlA},
    {&panelPARA_B, PARA_B_TRIGBITS, PARA_B_TRIGLEVEL, &triglvlB},
};

int32_t TriggerWord(const TriggerBinding &t)
{
    int bits = 0, level = 0;
    GetCtrlVal(*t.panel, t.bitsCtrl, &bits);
    GetCtrlVal(*t.panel, t.levelCtrl, &level);
    return level | (bits & 0xFFFF);
}

void ShowTriggerWord(const TriggerBinding &t)
{
    SetCtrlVal(*t.panel, t.bitsCtrl, (int)(*t.word & TRIGGER_BITS_MASK));
    SetCtrlVal(*t.panel, t.levelCtrl, (int)(*t.word & TRIGGER_LEVEL_MASK));
}

} // namespace

void GetPanelValues(void)
{
    for (const Binding &b : BINDINGS)
        GetCtrlVal(*b.panel, b.control, b.variable);
    for (const TriggerBinding &t : TRIGGERS)
        *t.word = TriggerWord(t);
}

void SetPanelValues(void)
{
    for (const Binding &b : BINDINGS)
        SetCtrlVal(*b.panel, b.control, *b.variable);
    for (const TriggerBinding &t : TRIGGERS)
        ShowTriggerWord(t);
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
    if ((inputs & ~(INPUT_A | INPUT_B)) != 0)
        return;
    SetCtrlVal(panelHandle, PANEL_LED_IN1, (inputs & INPUT_A) ? 1 : 0);
    SetCtrlVal(panelHandle, PANEL_LED_IN2, (inputs & INPUT_B) ? 1 : 0);
}
