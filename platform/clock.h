// clock.h - the seconds counter and a plain delay.
//
// Timer() counts seconds from a steady clock (never jumps with the wall
// clock), from some moment before the first call. Delay() blocks the calling
// thread for the given time and runs no callback meanwhile.
//
// PreciseWakeups() makes the calling thread's sleeps (Delay, and the event
// pump's waits) end when they are due instead of up to the kernel's default
// 50 us of timer slack later; Delay() asks for it itself. Call it on the
// thread that pumps events.
#pragma once

double Timer(void);
void   Delay(double seconds);
void   PreciseWakeups(void);
