# The doors every user finds: make test, make demo, make package, make screenshots, make bench.
# Each installs what is missing, configures and builds what it needs.
.PHONY: all deps wine32 build test demo package release screenshots bench fuzz sweep format clean

JOBS ?= $(shell nproc)
PRESETS := host win32 win64

all: build

deps:
	@bash scripts/install-deps.sh

# The 32-bit Wine that runs the shipped program in the tests, built once in a cache outside the checkout.
wine32: deps
	@bash scripts/wine32-runtime.sh

build/%/CMakeCache.txt: | deps
	cmake --preset $* >/dev/null

build: deps $(PRESETS:%=build/%/CMakeCache.txt)
	@for preset in $(PRESETS); do cmake --build --preset $$preset -j $(JOBS) || exit 1; done

package: build
	@bash scripts/make-package.sh

test: package wine32
	@bash scripts/run-tests.sh

demo: package
	@bash scripts/demo.sh

# make release SOURCES=dir [OUT=dir] [SIGN_PFX=file SIGN_PASS_FILE=file] [TIMESTAMP_URL=url]: see the README.
release: deps build/win32/CMakeCache.txt build/win64/CMakeCache.txt
	@cmake --build --preset win32 --target updater -j $(JOBS) && cmake --build --preset win64 --target packer -j $(JOBS)
	@bash scripts/release.sh

screenshots: package
	@bash scripts/screenshots.sh

bench: package
	@bash scripts/bench.sh

fuzz: build
	@bash scripts/fuzz.sh long

sweep: package
	@bash scripts/sweep.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
