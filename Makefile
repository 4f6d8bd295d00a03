# Tindra: the Windows programs (cross-compiled, tested under Wine) and the portable
# logic (built natively, unit-tested with sanitizers).
BUILD ?= build
# The default revision is the one CMakeLists.txt sets (TINDRA_REVISION); the scripts
# get theirs from here.
REVISION ?= $(shell sed -n 's/^set.TINDRA_REVISION \([0-9]*\) .*/\1/p' CMakeLists.txt)
UPDATE_HOST ?= 127.0.0.1
DIST ?= $(CURDIR)/dist
JOBS ?= $(shell nproc)
# The publisher's code-signing certificate and key (PEM). They sign the three programs
# that ship, nothing else: every other program (tests, tools, test copies) is signed
# with a development key pair the build makes (build/win*/signing/), and so are the
# shipped three when no publisher's key is given.
SIGNING_CERT ?=
SIGNING_KEY ?=
# Further certificates (PEM, separated by spaces) whose public keys the shipped
# programs trust besides their signer's: the publisher's next key (see README.md,
# "Moving to a new signing key").
TRUSTED_CERTS ?=
# The Windows build: i686 (what ships) or x86_64. Unless given, i686 where this machine
# runs 32-bit code, x86_64 where it does not (scripts/winarch.sh tries). Each has its
# own build folder; dist/ holds the one built last.
ifeq ($(origin WINARCH),undefined)
WINARCH := $(shell bash scripts/winarch.sh)
endif
ifeq ($(filter i686 x86_64,$(WINARCH)),)
$(error WINARCH must be i686 or x86_64, not '$(WINARCH)')
endif
export WINARCH
WIN_BUILD := $(BUILD)/win$(if $(filter x86_64,$(WINARCH)),-x86_64)
empty :=
space := $(empty) $(empty)
CMAKE_ARGS := -DTINDRA_REVISION=$(REVISION) -DTINDRA_UPDATE_HOST=$(UPDATE_HOST) -DTINDRA_DIST=$(abspath $(DIST)) \
  -DTINDRA_NATIVE_BUILD=$(abspath $(BUILD))/native

.PHONY: all setup native win test run release bench fuzz clean

all: native win

setup:
	@bash scripts/setup.sh

native: setup
	@cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD)/native -j$(JOBS)

win: setup
	@cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(WINARCH).cmake \
	  -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS) \
	  -DTINDRA_SIGNING_CERT=$(if $(SIGNING_CERT),$(abspath $(SIGNING_CERT))) \
	  -DTINDRA_SIGNING_KEY=$(if $(SIGNING_KEY),$(abspath $(SIGNING_KEY))) \
	  "-DTINDRA_TRUSTED_CERTS=$(subst $(space),;,$(strip $(abspath $(TRUSTED_CERTS))))" >/dev/null
	@cmake --build $(WIN_BUILD) -j$(JOBS)

test: all
	@bash scripts/run-tests.sh $(BUILD)

run: all
	@REVISION=$(REVISION) UPDATE_HOST=$(UPDATE_HOST) bash scripts/demo.sh $(BUILD) $(DIST)

# The zip for users and the update server's tree, in dist/. SIGNING_CERT and SIGNING_KEY
# (the publisher's) are handed to the build, with TRUSTED_CERTS; without them it signs
# with its development key.
release:
	@BUILD=$(BUILD) DIST=$(DIST) REVISION=$(REVISION) UPDATE_HOST=$(UPDATE_HOST) \
	  SIGNING_CERT=$(SIGNING_CERT) SIGNING_KEY=$(SIGNING_KEY) TRUSTED_CERTS="$(TRUSTED_CERTS)" \
	  MAKE=$(MAKE) bash scripts/release.sh

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
