# The two commands a newcomer needs: `make run` and `make test`. Both install what is
# missing, configure and build first.
.PHONY: setup configure build run test install package asan-test tsan-test windows windows-test bench bench-memory fuzz robust soak format clean

JOBS ?= 2

setup:
	@scripts/setup-deps.sh

configure: setup
	@echo "configure: cmake --preset release"
	@cmake --preset release >/dev/null

build: configure
	@echo "build: cmake --build --preset release"
	@cmake --build --preset release -j $(JOBS)

run: build
	@echo "run: build/bin/orrin-receiver (close the window or press Ctrl+C to stop)"
	@build/bin/orrin-receiver

test: build
	@echo "test: ctest --preset release"
	@ctest --preset release

# Into PREFIX (default /usr/local; sudo for a system prefix).
install: build
	@echo "install: cmake --install build --prefix $(or $(PREFIX),/usr/local)"
	@cmake --install build --prefix $(or $(PREFIX),/usr/local)

# A Debian package of the same files, built in build-package/ with the /usr prefix.
package: setup
	@echo "package: cmake --preset package, then cpack (DEB)"
	@cmake --preset package >/dev/null
	@cmake --build --preset package -j $(JOBS)
	@cd build-package && cpack -G DEB | grep -v '^CPack: - ' || true
	@ls build-package/orrin_*.deb

asan-test: setup
	@echo "asan-test: AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

tsan-test: setup
	@echo "tsan-test: ThreadSanitizer build and tests"
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan

# The Windows programs, cross-built here (the libraries they link are built once into
# build-windows/deps), packed into dist/orrin-<version>-windows-x64.zip.
windows:
	@scripts/build-windows-deps.sh
	@echo "windows: cmake --preset windows"
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)
	@scripts/pack-windows.sh

# The Windows unit tests and end-to-end cases under Wine (the Linux orrin-cast is their sender).
windows-test: windows build
	@scripts/wine-run.sh --boot
	@echo "windows-test: ctest --preset windows"
	@ctest --preset windows

bench: build
	@bench/run_all.sh
	@echo "bench: field table (Wi-Fi-like links; root only)"
	@/usr/bin/python3 bench/field_bench.py $${BENCH_BIN:-build/bin} build/bench-data

# Resident memory over 5,000 connect/cast/disconnect cycles with a window, then over three
# runs of 5,000 short windowless sessions (about 7 minutes).
bench-memory: build
	@bench/run_all.sh memory

# Every hostile-sender case against the real binary, slow ones included, then the table.
robust: build
	@tests/in_private_net.sh /usr/bin/python3 tests/robust/hostile_e2e.py build/bin/orrin-receiver \
	  build/bin/orrin-cast build/bin/many_scans_jpeg build/robust-artifacts --slow --table build/robust-table.md

# A long cast under Xvfb (SOAK_MINUTES, default 30): memory, descriptors and threads sampled
# every 10 s into build/soak.csv and build/soak.png; then an idle phone behind a Wi-Fi-like
# link as long (it must stay connected, screen off). Not part of CI.
soak: build
	@tests/in_private_net.sh /usr/bin/python3 tests/robust/soak.py build/bin/orrin-receiver \
	  build/bin/orrin-cast build/soak $(or $(SOAK_MINUTES),30)
	@FIELD_IDLE_SECONDS=$$(( $(or $(SOAK_MINUTES),30) * 60 )) /usr/bin/python3 tests/e2e/field_e2e.py \
	  build/bin/orrin-receiver build/bin/orrin-cast build/soak \
	  IdlePhoneTest.test_an_idle_phone_that_answers_pings_stays_with_the_screen_off_screen

fuzz: setup
	@scripts/fuzz.sh $(FUZZ_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-debug build-asan build-tsan build-fuzz build-package build-windows dist
