// VELTRIX_PROGRAM_TLS: the thread-local model for the host's variables read
// on every sample.
//
// The host is built position-independent but linked only into programs,
// never loaded with dlopen, so its thread-local variables can take the
// initial-exec model, whose address is one instruction. The default for
// position-independent code goes through a call, around which a caller on a
// hot path saves and reloads its arguments. Elsewhere than ELF it is the
// default model.
#pragma once

#if defined(__ELF__)
#define VELTRIX_PROGRAM_TLS __attribute__((tls_model("initial-exec")))
#else
#define VELTRIX_PROGRAM_TLS
#endif
