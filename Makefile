# Q-VAR-RDX3-Scope - set-up, build, run and test on Debian 12.
#
#   make run     install what is missing, build, start the tool on the
#                built-in simulated controller
#   make test    the same set-up, then every test through ctest
#   make bench   the same set-up, then every benchmark and measuring program
#                (bench_*), each on an X server (a private Xvfb when there is
#                no DISPLAY) and offscreen; fails when one misses its bound
#   make sanitize-test   build and test once more with AddressSanitizer and
#                UndefinedBehaviorSanitizer (build-asan/)
#   make install installs the programs, resources, menu entry, icon, metadata
#                and manual pages under PREFIX (default /usr/local); DESTDIR
#                is honoured
#   make deb     the Debian package qvar-scope_<version>_<arch>.deb, here
#   make package-test   make deb, then checks the package's files and its
#                dependencies
#   make fresh-test   make test on a bare Debian 12 root (mmdebstrap), then
#                the package from make deb installed and started on a second
#                one; needs root and the package archive
#   make fuzz    build the libFuzzer targets with clang (build-fuzz/) and run
#                each for FUZZ_SECONDS (60) under ASan and UBSan; fails on a
#                finding, which is left in build-fuzz/findings/

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

# desktop-file-utils and appstream validate the installed menu entry and
# metadata in the tests; dpkg-dev and file let CPack work out the package's
# dependencies from the binaries.
# qt6-tools-dev brings UiTools, whose CMake package needs Qt's OpenGL
# modules: libqt6opengl6-dev (only a recommendation of qt6-base-dev, so
# a bare machine lacks it). xvfb and xauth give the
# benchmarks a real X server on a machine without a display.
PACKAGES = cmake make g++ pkg-config \
           qt6-base-dev qt6-tools-dev libqt6opengl6-dev libgl-dev \
           libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth \
           desktop-file-utils appstream dpkg-dev file

# Only for `make fuzz`: libFuzzer comes with clang's runtime libraries.
FUZZ_PACKAGES = clang libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all deps fuzz-deps configure build run test sanitize-test bench fuzz fuzz-build install deb package-test fresh-test clean

all: build

deps fuzz-deps:
	@missing=""; \
	for p in $(if $(filter fuzz-deps,$@),$(FUZZ_PACKAGES),$(PACKAGES)); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/qvar-scope

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

sanitize-test: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQVAR_SANITIZE=ON -DQVAR_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Every benchmark runs, even after one has missed its bound, twice: on an X
# server (painting as users see it; the display's own, else a private Xvfb
# large enough for a chart of twice the size) and offscreen. The target fails
# if any run did.
XVFB_SCREEN = -screen 0 2560x1600x24

bench: build
	@failed=""; \
	for b in $(BUILD)/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  echo "== $${b##*/} on X"; \
	  if [ -n "$$DISPLAY" ]; then \
	    QT_QPA_PLATFORM=xcb "$$b" || failed="$$failed $${b##*/}(X)"; \
	  else \
	    xvfb-run -a -s "$(XVFB_SCREEN)" env QT_QPA_PLATFORM=xcb "$$b" || failed="$$failed $${b##*/}(X)"; \
	  fi; \
	  echo "== $${b##*/} offscreen"; \
	  QT_QPA_PLATFORM=offscreen "$$b" || failed="$$failed $${b##*/}(offscreen)"; \
	done; \
	if [ -n "$$failed" ]; then echo "Bounds missed or benchmarks failed:$$failed"; exit 1; fi

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

deb: build
	rm -f qvar-scope_*.deb
	cd $(BUILD) && cpack -G DEB -B "$(CURDIR)/$(BUILD)/package"
	cp $(BUILD)/package/qvar-scope_*.deb .

package-test: deb
	dist/check-deb.sh qvar-scope_*.deb

# Clones the committed HEAD, not the work tree.
fresh-test:
	dist/fresh-test.sh

# The targets' own leak checks stay on while fuzzing; tools run during the
# build (the header generator) are not fuzzed and may leave their heap.
fuzz-build: deps fuzz-deps
	ASAN_OPTIONS=detect_leaks=0 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DQVAR_BENCH=OFF \
	  -DCMAKE_PROJECT_INCLUDE=$(CURDIR)/tests/fuzz/fuzz.cmake
	ASAN_OPTIONS=detect_leaks=0 cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all

# Each target starts from the seeds in tests/fuzz/corpus/<target>/ and adds
# what it finds to $(FUZZ_BUILD)/corpus/<target>/, never to the repository.
fuzz: fuzz-build
	@failed=""; \
	for b in $(FUZZ_BUILD)/fuzz/fuzz_*; do \
	  t=$${b##*/fuzz_}; \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ./$(FUZZ_BUILD)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t || failed="$$failed $$t"; \
	done; \
	if [ -n "$$failed" ]; then echo "Fuzzing found faults in:$$failed"; exit 1; fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) qvar-scope_*.deb
