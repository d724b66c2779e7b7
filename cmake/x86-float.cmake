# 32-bit x86: floating point goes through SSE, not the x87. An x87 load
# quiets a signalling NaN, and the bridge hands on every float bit for bit.
# Shared by the Windows and the Linux x86 toolchains.
set(x86_float_flags "-msse2 -mfpmath=sse")
