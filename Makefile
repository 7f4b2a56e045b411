# make        builds the native (fake platform, sanitizers), the Windows (mingw) and the
#             thread-safety (clang -Wthread-safety, built only) builds
# make test   runs every test: native, contract, Windows and end-to-end under Wine, and the MSI
# make package  builds the release into build/package: stripped exe and DLL, debug files, MSI
# make test-package  installs, removes and rolls back the MSI with Wine's msiexec
# make bench  runs the benchmarks under Wine
# make demo   runs a real client under supervision under Wine
# make fuzz   runs every libFuzzer target for FUZZ_SECONDS each (default 60); not part of test
# make soak   runs the host for 15 minutes under Wine and checks its figures (not part of test)
JOBS ?= $(shell nproc)
SETUP_STAMP := build/.setup-done
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24"

.PHONY: all native windows thread-safety package test test-native test-windows test-package bench \
        demo fuzz soak format format-check clean

all: native windows thread-safety

$(SETUP_STAMP): scripts/setup.sh
	./scripts/setup.sh
	@mkdir -p build && touch $@

native: $(SETUP_STAMP)
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

windows: $(SETUP_STAMP)
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# Built, never run: it exists for clang's check of which lock guards what, so only the product's
# portable code is built (the tests would triple the time for nothing the check needs).
thread-safety: $(SETUP_STAMP)
	cmake --preset thread-safety >/dev/null
	cmake --build --preset thread-safety -j $(JOBS) --target keldran_core

# Only what goes into the package is built, so that a clean clone gets there quickly.
package: $(SETUP_STAMP)
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target KeldranGridAgent KeldranGridUtil
	./scripts/package.sh

test: all
	$(MAKE) --no-print-directory format-check
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-windows
	$(MAKE) --no-print-directory test-package

test-native:
	ctest --preset native -j $(JOBS)

# One Xvfb for the whole Windows run: windows, tray icons and message boxes need a display.
# The prefix's wineserver is stopped afterwards so that no Wine process outlives the display.
test-windows:
	./scripts/wine-prefix.sh "$(CURDIR)/build/windows/wineprefix"
	$(XVFB) ctest --preset windows -j $(JOBS); rc=$$?; \
	  WINEPREFIX="$(CURDIR)/build/windows/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null; exit $$rc

# Installs into a Wine prefix of its own, made afresh each run (build/windows/msiprefix).
test-package: package
	./tests/package/msi_test.sh

bench: windows package
	./scripts/bench.sh

demo: windows
	./scripts/demo.sh

FUZZ_SECONDS ?= 60
fuzz: $(SETUP_STAMP)
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) ./scripts/fuzz.sh

soak: windows
	./scripts/soak.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Every C++ file as clang-format (the .clang-format beside them) would leave it.
format-check: $(SETUP_STAMP)
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

clean:
	rm -rf build
