// brontel-decode's run: the input opened, one receiver session per decoded
// channel with its outputs, every block fed to them, and the end of the run.
#pragma once

#include "decode_options.h"

namespace brontel::decode {

// Decodes as `options` say; returns the exit status: 0, or ExitFailure when
// the input, an output or the store failed (said on standard error). A stop
// signal ends the input like its end: the run still finishes cleanly.
int Decode(const TDecodeOptions& options);

}  // namespace brontel::decode
