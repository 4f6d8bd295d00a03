# Tindra: the Windows programs (cross-compiled, tested under Wine) and the portable
# logic (built natively, unit-tested with sanitizers).
BUILD ?= build
REVISION ?= 27
UPDATE_HOST ?= 127.0.0.1
DIST ?= $(CURDIR)/dist
JOBS ?= $(shell nproc)
CMAKE_ARGS := -DTINDRA_REVISION=$(REVISION) -DTINDRA_UPDATE_HOST=$(UPDATE_HOST) -DTINDRA_DIST=$(abspath $(DIST)) \
  -DTINDRA_NATIVE_BUILD=$(abspath $(BUILD))/native

.PHONY: all setup native win test run bench fuzz clean

all: native win

setup:
	@bash scripts/setup.sh

native: setup
	@cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD)/native -j$(JOBS)

win: setup
	@cmake -S . -B $(BUILD)/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD)/win -j$(JOBS)

test: all
	@bash scripts/run-tests.sh $(BUILD)

run: all
	@REVISION=$(REVISION) UPDATE_HOST=$(UPDATE_HOST) bash scripts/demo.sh $(BUILD) $(DIST)

# Figures, not a pass or fail: see "Measuring it" in the README. BENCH_ARGS adds options
# of scripts/bench.py (--exe, --label, --singles, --idle-seconds, --many).
bench: win
	@bash scripts/test-env.sh $(BUILD)/bench -- python3 scripts/bench.py --build $(BUILD) \
	  --dist $(DIST) --update-host $(UPDATE_HOST) --revision $(REVISION) $(BENCH_ARGS)

FUZZ_SECONDS ?= 300
fuzz: setup
	@bash scripts/fuzz.sh $(BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) dist out
