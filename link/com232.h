// com232.h - the serial protocol with the controller: frames, the receive
// path, the parameter block codec, port set-up with the line check, parameter
// read, firmware query, curve blocks, and the teach/reset/refresh commands.
//
// Every exchange: flush both queues, fill pp, FillTxBuf, rx_flag = 0, write
// FRAME_BYTES bytes (link/protocol.h), then wait for the answer either through the receive
// callback (WaitRxFull) or by polling the queue with the callback removed.
// Outcomes are reported only as status texts in the main panel.
#pragma once

#include <cstdint>

// Frames (byte layout: sync word, order word, PNUM data words, big-endian).
void FillTxBuf(int32_t ord, const uint16_t *values);
void GetRxBuf(int32_t count);
void RX_Receive_Function(int port, int events, void *data);
int  WaitRxFull(void);
// The receive callback on `port` with the event mask eventMask, or off on com
// while a direct read takes the answers itself.
void InstallRxCallback(int port);
void RemoveRxCallback(void);

// Parameter block <-> parameter variables of one channel (0 = A, else B).
void CopyVarsToPP(uint16_t channel);
void CopyPPtoVars(uint16_t channel);
// Both channels' blocks as the variables hold them (pp is left with B's).
void PackParaBlocks(uint16_t blocks[2][16]);

// Link set-up and requests.
const char *ComErrorText(int code);
void InitRS232(int port);
// The same start exchange, telling how far it got: the port's open result
// (0 or the serial service's negative code), then each step that succeeded.
struct StartOutcome {
    int openCode;
    int echoOk;
    int readA, readB;   // each channel read from RAM
    int readsOk;        // both
    int firmwareOk;     // a whole 72-byte firmware text
};
void StartLink(int port, StartOutcome *outcome);
int  CheckComLine(int port);
void PushGET(int32_t source, uint16_t channel);
int  GetVERSIONInfo(void);
int  ReadData256(int block, int source, int ord);
// The scope's and the recorder's next live-value request: channel A's block
// with order 8, written after both queues are flushed; tstart marks it.
void SendLiveRequest(void);
// Before a loop's first live-value request: waits until an answer to the
// previous loop's last request can no longer be on its way.
void SettleLiveLine(void);
// Whether the answer to the last live-value request is more than `limit`
// seconds overdue (the time since the request is left in tdiff).
int  LiveAnswerOverdue(double limit);
// While no answer is taken: when noise was dropped since the live-value
// request (a burst hit its answer), and no answer can still be on its way
// and the line has gone quiet, writes the request again, leaving tstart at
// the unanswered one. Returns 1 if it did.
int  AskAgainForLostAnswer(void);
// When a loop waiting for a live answer must look again: its time-out
// `limit` after tstart, or sooner when a lost answer may be asked for again.
double LiveWaitDeadline(double limit);
// The start of the scope's and the recorder's polling loop: settles the line,
// sends the first live-value request (shows "Line Ok!" once it is written)
// and arms the loop: tstart, stop_flag = 0, graphrefresh = 0.
void StartLiveLoop(void);

// Teach, reset or refresh (order `code`) with channel A's block from the
// variables, then channel A read back from RAM and, when it answered, the
// variables shown (ShowParameters); `afterWrite` (may be null) is shown once
// the frame is written.
void SendCommand(int32_t code, const char *afterWrite);

// Reading a sent parameter set back: after both blocks were written to
// `memory` (RAM or EEPROM), waits the pause between blocks, reads channel A
// and then channel B from the same memory (order 2 or 4, with their status
// texts; the variables take what the controller holds) and compares words 1
// to 15 with `sent` (each channel's block as packed for the send).
// 1 when both channels answered and hold what was sent; else 0, with
// `unanswered` set when a read got no answer (the comparison stops there).
struct BlockDifference {
    uint16_t channel;   // CHANNEL_A or CHANNEL_B
    int word;           // ParamWord
    uint16_t sent, held;
};
enum { VERIFY_MAX_DIFFERENCES = 30 };   // words 1..15 of both channels
struct VerifyOutcome {
    int unanswered;
    int count;          // differing words, in channel and word order
    BlockDifference differences[VERIFY_MAX_DIFFERENCES];
};
int VerifyParaBlocks(int32_t memory, const uint16_t sent[2][16], VerifyOutcome *out);
// "channel A word 3 (tol): sent 100, the controller holds 101".
void DescribeDifference(const BlockDifference &d, char *text, int size);
// The name of a parameter block word ("power", "triglvl", ...).
const char *ParamWordName(int word);

// What the link has met on the line since it was last started (StartLink,
// InitRS232), for a monitor. An answer is a frame of this controller: the
// echo answer shows its lead word and whether it repeats the request's order
// word, and from then on 36 bytes that start otherwise are dropped, not taken.
struct LinkCounters {
    long framesTaken;       // answer frames taken (receive path, echo, curve blocks)
    long framesDropped;     // frame-sized blocks that were no frame of this controller,
                            // and late frames ahead of the firmware text
    long timeouts;          // waits for an answer that ran out
    long bytesDiscarded;    // bytes that belonged to no answer, the serial
                            // service's drops by timing included
    long requestsRepeated;  // live requests asked again after noise hit the answer
};
void GetLinkCounters(LinkCounters *counters);
// Counts a wait for an answer that ran out outside the waits above.
void CountLinkTimeout(void);
