#!/usr/bin/env bash
# The fuzz targets of the certificate code read certificates and TLSA lines
# and nothing else: linked against the program's libraries, each must take
# no object of the net or platform library (no sockets, no files). Links
# each with a plain main and reads the linker's map of archive members.
# Prints "N passed, N failed"; exits 77 without a compiler or the libraries.
set -uo pipefail
source_dir=${ZARVIK_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
build_dir=$(dirname "${ZARVIK_BINARY:-$source_dir/build/zarvik}")
compiler=${CXX:-g++}
command -v "$compiler" >/dev/null || { echo "SKIP: no $compiler"; exit 77; }
# A sanitizer build's libraries need the sanitizer's runtime to link; the
# plain build answers the question for both.
if grep -q '^ZARVIK_SANITIZE:BOOL=ON' "$build_dir/CMakeCache.txt" 2>/dev/null; then
  echo "SKIP: a sanitizer build"
  exit 77
fi
libraries=()
for layer in tls net base platform; do
  [ -f "$build_dir/libzarvik_$layer.a" ] || { echo "SKIP: no $build_dir/libzarvik_$layer.a"; exit 77; }
  libraries+=("$build_dir/libzarvik_$layer.a")
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long);\n%s\n' \
  'int main() { return LLVMFuzzerTestOneInput(reinterpret_cast<const unsigned char*>("x"), 1); }' >"$work/main.cpp"

passed=0
failed=0
for target in tlsa_line host_match certificate_report; do
  if ! "$compiler" -std=c++20 -I"$source_dir/src" -I"$source_dir/fuzz" -I"$build_dir/generated" \
    "$source_dir/fuzz/${target}_fuzzer.cpp" "$work/main.cpp" "${libraries[@]}" -lssl -lcrypto \
    -o "$work/$target" -Wl,-Map="$work/$target.map" 2>"$work/$target.err"; then
    echo "FAIL $target: does not link"
    head -5 "$work/$target.err"
    failed=$((failed + 1))
    continue
  fi
  members=$(grep -o 'libzarvik_\(net\|platform\)\.a([a-z_0-9]*\.cpp\.o)' "$work/$target.map" | sort -u)
  if [ -n "$members" ]; then
    echo "FAIL $target links $(echo "$members" | tr '\n' ' ')"
    failed=$((failed + 1))
  else
    echo "ok   $target links no net or platform code"
    passed=$((passed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
