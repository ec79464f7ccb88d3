// clock.h - the seconds counter and a plain delay.
//
// Timer() counts seconds from a steady clock (never jumps with the wall
// clock), from some moment before the first call. Delay() blocks the calling
// thread for the given time and runs no callback meanwhile.
#pragma once

double Timer(void);
void   Delay(double seconds);
