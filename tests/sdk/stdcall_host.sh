#!/usr/bin/env bash
# A host built by Microsoft's toolchain with stdcall as its default convention (/Gz), from the
# unpacked SDK alone: clang for i686-pc-windows-msvc compiles tests/abi/msvc_host.cpp against the
# SDK's include/ and links the SDK's lib/TEV.lib; tests/abi/msvc_host.sh then runs it beside the
# SDK's TEV.dll and stand-in and checks all 28 entries, the outbox and the log.
# Usage: tests/sdk/stdcall_host.sh SOURCE_DIR WORK_DIR (WORK_DIR/sdk: the SDK, from archive.sh)
set -euo pipefail
source_dir=$1
work=$2
sdk="$work/sdk"
run="$work/stdcall"

rm -rf "$run"
mkdir -p "$run/bin"
cp "$sdk/bin/TEV.dll" "$sdk/standin/KV8.dll" "$run/bin/"
llvm-dlltool -m i386 -k -d "$source_dir/tests/abi/kernel32.def" -l "$run/kernel32.lib"
clang --target=i686-pc-windows-msvc -fms-extensions -ffreestanding -fno-builtin -fno-exceptions \
  -fno-rtti -fno-stack-protector -O2 -std=c++20 -Wall -Wextra -Werror \
  -Xclang -fdefault-calling-conv=stdcall -I"$sdk/include" \
  -c "$source_dir/tests/abi/msvc_host.cpp" -o "$run/host.obj"
# The default did change: the host's own functions are stdcall ("YG" in their decorated names).
llvm-nm "$run/host.obj" | grep -q '@@YG' || { echo "FAIL: the host was not compiled with stdcall as its default"; exit 1; }
lld-link /nologo /subsystem:console /nodefaultlib /entry:HostEntry /out:"$run/bin/tev_msvc_host.exe" \
  "$run/host.obj" "$sdk/lib/TEV.lib" "$run/kernel32.lib"
exec bash "$source_dir/tests/abi/msvc_host.sh" "$source_dir" "$run"
