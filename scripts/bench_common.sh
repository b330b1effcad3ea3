# Sourced by the benchmark scripts, from the repository's top: an optimised build of the targets a
# benchmark needs, in $build (BUILD_DIR, default build/release).
build="${BUILD_DIR:-build/release}"

build_targets() {
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 --target "$@" >/dev/null
}

# A Python benchmark that drives ztupdate against zt-unit-sim with the sample images; its own
# arguments follow those four.
run_ztupdate_bench() {
    local script=$1
    shift
    build_targets ztupdate zt-unit-sim sample_firmware
    python3 "$script" "$build/cli/ztupdate" "$build/sim/zt-unit-sim" \
        "$build/generated/sample_application.hex" "$build/generated/sample_flash.bin" "$@"
}
