# Set-up and everyday commands. Everything runs on a fresh Debian 12 machine as root.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX     ?= /usr/local
DESTDIR    ?=
# A compiler cache speeds up rebuilds where one is installed; nothing depends on it.
LAUNCHER   := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

.PHONY: all deps build demo check test asan-check maintainer maintainer-config tidy bench fidelity screenshots clean install uninstall deb

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: CMakeLists.txt | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Builds, registers the in-process servers into the user's registry folder and
# converts the bundled samples into out/.
demo: build
	@scripts/demo.sh $(BUILD)

# The whole suite, then the parsers' tests again under ASan + UBSan.
check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) asan-check

# The maintainer build: warnings are errors, the whole suite, then clang-tidy.
maintainer: maintainer-config
	$(MAKE) check
	$(MAKE) tidy

maintainer-config: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVM_WERROR=ON $(LAUNCHER) $(CMAKE_FLAGS)

tidy: $(BUILD)/build.ninja
	scripts/tidy.sh $(BUILD) $(JOBS)

asan-check: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVM_SANITIZE=ON $(LAUNCHER) $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target parser-tests
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -L parser --timeout 600

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@scripts/bench.sh $(BUILD)

# The programs into PREFIX/lib/vellumate/, commands linked into PREFIX/bin/,
# manual pages, completions and desktop entries (cmake/Install.cmake); as
# root and without DESTDIR the in-process servers are registered for every user.
install: build
	scripts/install.sh install $(BUILD) $(PREFIX) "$(DESTDIR)"

uninstall: build
	scripts/install.sh uninstall $(BUILD) $(PREFIX) "$(DESTDIR)"

# vellumate_<version>_<arch>.deb in this folder, checked with lintian.
deb: build
	scripts/make-deb.sh $(BUILD) .
# Documentation pages beside Chromium's print of them: pictures of pages 2
# and 3 and the measures of scripts/fidelity.py in out/fidelity/index.html.
fidelity: build
	@scripts/fidelity.sh $(BUILD)

# A picture of each dialog in out/screenshots/ (drawn under Xvfb).
screenshots: build
	@scripts/screenshots.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) out
