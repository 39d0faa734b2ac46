#!/usr/bin/env bash
# A host built by Microsoft's toolchain with stdcall as its default convention (/Gz), from the
# unpacked SDK alone: a CMake project of that toolchain finds TEV::TEV, which must hand it
# lib/TEV.lib; clang for i686-pc-windows-msvc compiles tests/abi/msvc_host.cpp against the SDK's
# include/ and links that library; tests/abi/msvc_host.sh then runs it beside the SDK's TEV.dll and
# stand-in and checks every entry, the outbox and the log.
# Usage: tests/sdk/stdcall_host.sh SOURCE_DIR WORK_DIR INCOMPLETE_KV8_DLL BUILD_DIR (WORK_DIR/sdk: the
# SDK, from archive.sh; the build's library double that lacks a static, for the refused runs; the
# build, whose generated/ holds the list of entries the host calls)
set -euo pipefail
source_dir=$1
work=$2
sdk="$work/sdk"
run="$work/stdcall"

rm -rf "$run"
mkdir -p "$run/bin"
cmake -S "$source_dir/tests/sdk/microsoft_consumer" -B "$run/consumer" -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_SYSTEM_PROCESSOR=x86 -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_COMPILER_TARGET=i686-pc-windows-msvc \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DTEV_DIR="$sdk/lib/cmake/TEV" >"$run/consumer.log" 2>&1 ||
  { cat "$run/consumer.log"; echo "FAIL: a Microsoft-toolchain project does not find TEV::TEV"; exit 1; }
import_library=$(sed -n 1p "$run/consumer/tev_files.txt")
[ "$import_library" = "$sdk/lib/TEV.lib" ] ||
  { echo "FAIL: TEV::TEV hands a Microsoft-toolchain project $import_library, not lib/TEV.lib"; exit 1; }
cp "$sdk/bin/TEV.dll" "$sdk/standin/KV8.dll" "$run/bin/"
llvm-dlltool -m i386 -k -d "$source_dir/tests/abi/kernel32.def" -l "$run/kernel32.lib"
clang --target=i686-pc-windows-msvc -fms-extensions -ffreestanding -fno-builtin -fno-exceptions \
  -fno-rtti -fno-stack-protector -O2 -std=c++20 -Wall -Wextra -Werror \
  -Xclang -fdefault-calling-conv=stdcall -I"$sdk/include" -I"$4/generated" \
  -c "$source_dir/tests/abi/msvc_host.cpp" -o "$run/host.obj"
# The default did change: the host's own functions are stdcall ("YG" in their decorated names).
llvm-nm "$run/host.obj" | grep -q '@@YG' || { echo "FAIL: the host was not compiled with stdcall as its default"; exit 1; }
lld-link /nologo /subsystem:console /nodefaultlib /entry:HostEntry /out:"$run/bin/tev_msvc_host.exe" \
  "$run/host.obj" "$import_library" "$run/kernel32.lib"
exec bash "$source_dir/tests/abi/msvc_host.sh" "$source_dir" "$run" "$3"
