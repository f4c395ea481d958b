// Which handles name an open capture. A caller may hand any jint to ngetBuffer and nclose: one
// never opened, one already closed, or one whose close is running on another thread. Every
// look from a handle to its block goes through here, so none of them reaches a freed block.
#pragma once

#include "capture_block.h"

// A zero-filled block whose address no recently closed capture had, so that a caller still
// holding such a capture's handle cannot reach the new one; null when there is no memory.
CaptureBlock* new_capture_block();

// Frees a block that never became a handle (its open failed). Its address was never handed out,
// so it does not take the place of a closed capture's among the addresses kept from reuse.
void discard_capture_block(CaptureBlock* block);

// The block's address becomes a handle that ngetBuffer and nclose accept. False when the table
// of open captures is full; the block is then still the caller's.
bool publish_capture(CaptureBlock* block);

// Close's first step: the handle stops naming its capture, so every later call with it is
// refused. Returns the block with the use the open capture held, or null when the handle named
// no open capture (never opened, or closed already).
CaptureBlock* withdraw_capture(jint handle);

// Lets go of a use; whoever lets go of the last one releases the capture.
void leave_capture(CaptureBlock* block);

// A reader's hold on an open capture for the length of one call, or nothing when the handle
// names none. A withdrawn capture stays alive until every holder has left.
class CaptureUse {
public:
    explicit CaptureUse(jint handle);
    ~CaptureUse() {
        if (block_) leave_capture(block_);
    }
    CaptureUse(const CaptureUse&) = delete;
    CaptureUse& operator=(const CaptureUse&) = delete;

    CaptureBlock* block() const { return block_; }

private:
    CaptureBlock* block_;
};
