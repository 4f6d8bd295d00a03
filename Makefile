# Tindra: the Windows programs (cross-compiled, tested under Wine) and the portable
# logic (built natively, unit-tested with sanitizers).
BUILD ?= build
# The default revision is the one CMakeLists.txt sets (TINDRA_REVISION); the scripts
# get theirs from here.
REVISION ?= $(shell sed -n 's/^set.TINDRA_REVISION \([0-9]*\) .*/\1/p' CMakeLists.txt)
UPDATE_HOST ?= 127.0.0.1
DIST ?= $(CURDIR)/dist
JOBS ?= $(shell nproc)
# Only these targets of each build (the release test's own release); all by default.
NATIVE_TARGETS ?=
WIN_TARGETS ?=
# The publisher's code-signing certificate and key (PEM). They sign the three programs
# that ship, nothing else: every other program (tests, tools, test copies) is signed
# with a development key pair the build makes (build/win*/signing/), and so are the
# shipped three when no publisher's key is given.
SIGNING_CERT ?=
SIGNING_KEY ?=
# Or a key in a hardware token: PKCS11_MODULE is its PKCS#11 library, SIGNING_KEY a
# pkcs11: URI of the key, SIGNING_CERT a pkcs11: URI or a PEM file, PKCS11_PIN_FILE a
# file holding the token's PIN.
PKCS11_MODULE ?=
PKCS11_PIN_FILE ?=
# A signing setting as the build takes it: a pkcs11: URI as it is, a file by its path.
signing_arg = $(if $(filter pkcs11:%,$(1)),$(1),$(if $(1),$(abspath $(1))))
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
WIN_BUILD := $(shell bash -c '. scripts/winarch.sh && win_build_dir "$$0" "$$1"' '$(BUILD)' $(WINARCH))
empty :=
space := $(empty) $(empty)
CMAKE_ARGS := -DTINDRA_REVISION=$(REVISION) -DTINDRA_UPDATE_HOST=$(UPDATE_HOST) -DTINDRA_DIST=$(abspath $(DIST)) \
  -DTINDRA_NATIVE_BUILD=$(abspath $(BUILD))/native

.PHONY: all setup setup-wine native win test run release bench fuzz clean

all: native win

# What builds; what runs the Windows build besides (Wine), for the targets that run it.
setup:
	@bash scripts/setup.sh
setup-wine:
	@bash scripts/setup.sh --wine

native: setup
	@cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD)/native -j$(JOBS) $(if $(NATIVE_TARGETS),--target $(NATIVE_TARGETS))

win: setup
	@cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(WINARCH).cmake \
	  -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS) \
	  '-DTINDRA_SIGNING_CERT:STRING=$(call signing_arg,$(SIGNING_CERT))' \
	  '-DTINDRA_SIGNING_KEY:STRING=$(call signing_arg,$(SIGNING_KEY))' \
	  -DTINDRA_PKCS11_MODULE=$(call signing_arg,$(PKCS11_MODULE)) \
	  -DTINDRA_PKCS11_PIN_FILE=$(call signing_arg,$(PKCS11_PIN_FILE)) \
	  "-DTINDRA_TRUSTED_CERTS=$(subst $(space),;,$(strip $(abspath $(TRUSTED_CERTS))))" >/dev/null
	@cmake --build $(WIN_BUILD) -j$(JOBS) $(if $(WIN_TARGETS),--target $(WIN_TARGETS))

test: setup-wine all
	@bash scripts/run-tests.sh $(BUILD)

run: setup-wine all
	@REVISION=$(REVISION) UPDATE_HOST=$(UPDATE_HOST) bash scripts/demo.sh $(BUILD) $(DIST)

# The zip for users, the symbols zip and the update server's tree, in dist/.
# SIGNING_CERT and SIGNING_KEY (the publisher's, PEM files or in a token with
# PKCS11_MODULE) are handed to the build, with TRUSTED_CERTS; without them it signs
# with its development key.
release:
	@BUILD=$(BUILD) DIST=$(DIST) REVISION=$(REVISION) UPDATE_HOST=$(UPDATE_HOST) \
	  SIGNING_CERT='$(SIGNING_CERT)' SIGNING_KEY='$(SIGNING_KEY)' TRUSTED_CERTS="$(TRUSTED_CERTS)" \
	  PKCS11_MODULE=$(PKCS11_MODULE) PKCS11_PIN_FILE=$(PKCS11_PIN_FILE) \
	  NATIVE_TARGETS="$(NATIVE_TARGETS)" WIN_TARGETS="$(WIN_TARGETS)" \
	  MAKE=$(MAKE) bash scripts/release.sh

# Figures, not a pass or fail: see "Measuring it" in the README. BENCH_ARGS adds options
# of scripts/bench.py (--exe, --label, --singles, --idle-seconds, --many).
bench: setup-wine win
	@bash scripts/test-env.sh $(BUILD)/bench -- python3 scripts/bench.py --build $(BUILD) \
	  --dist $(DIST) --update-host $(UPDATE_HOST) --revision $(REVISION) $(BENCH_ARGS)

FUZZ_SECONDS ?= 300
fuzz: setup
	@bash scripts/fuzz.sh $(BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) dist out
