# After `apt-get install -y make git`, two commands set a fresh Debian 12 machine up:
# `make demo` and `make test` (see README.md).
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
WIN_BUILD ?= build-windows
CMAKE_FLAGS ?=

TAPE ?=

.PHONY: deps configure build test asan asan-build bench demo clean format windows windows-test

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 300

asan-build: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_SANITIZE=ON -DQUARNEL_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

asan: asan-build
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j$(JOBS) --timeout 300

bench: build
	$(BUILD)/bench/quarnel-bench

# The demo: quarnel-host starts quarnel-emulator and runs a shift through the
# add-in; TAPE=FILE keeps the paper tape in FILE instead of showing it. It
# builds only what it runs and the package, not the tests, fuzzers and
# benchmarks.
demo: configure
	cmake --build $(BUILD) -j$(JOBS) --target quarnel quarnel-host quarnel-emulator quarnel_zip
	$(BUILD)/host/quarnel-host demo$(if $(TAPE), --tape $(TAPE))

# quarnel.dll for Windows x64 and x86, cross-built with MinGW-w64 and checked;
# then quarnel.zip of the Linux build carries them beside the Linux library.
# The cross builds compile through ccache when it is installed, with paths
# taken relative to the checkout, so that an unchanged source is not
# compiled again, in this checkout or another one.
WIN_CCACHE := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
windows: build
	bash scripts/install-deps windows build-sources
	set -e; for arch in x86_64 i686; do \
	  cmake -S . -B $(WIN_BUILD)/$$arch -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$$arch.cmake \
	    -DCMAKE_BUILD_TYPE=Release \
	    $(WIN_CCACHE) $(CMAKE_FLAGS); \
	  CCACHE_BASEDIR=$(CURDIR) cmake --build $(WIN_BUILD)/$$arch -j$(JOBS); \
	  bash scripts/check-windows-dll $$arch $(WIN_BUILD)/$$arch/hostbridge/quarnel.dll; \
	done
	cmake -S . -B $(BUILD) -DQUARNEL_WINDOWS_DLL_X86_64=$(abspath $(WIN_BUILD))/x86_64/hostbridge/quarnel.dll \
	  -DQUARNEL_WINDOWS_DLL_I386=$(abspath $(WIN_BUILD))/i686/hostbridge/quarnel.dll
	cmake --build $(BUILD) -j$(JOBS) --target quarnel_zip

# The x64 DLL under Wine against the emulator, over TCP and over COM1.
windows-test: windows
	bash tests/windows/wine-scenario $(WIN_BUILD)/x86_64/hostbridge/quarnel.dll \
	  $(WIN_BUILD)/x86_64/tests/windows/WineHost.exe $(BUILD)/emulator/quarnel-emulator $(WIN_BUILD)/wine

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD)
