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

BUILD      ?= build
ASAN_BUILD ?= build-asan
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

# desktop-file-utils and appstream validate the installed menu entry and
# metadata in the tests; dpkg-dev and file let CPack work out the package's
# dependencies from the binaries.
# Debian's Qt 6 Charts CMake package is only found together with the OpenGL
# development package; qt6-tools-dev brings UiTools. xvfb and xauth give the
# benchmarks a real X server on a machine without a display.
PACKAGES = cmake make g++ pkg-config \
           qt6-base-dev libqt6charts6-dev libqt6opengl6-dev qt6-tools-dev libgl-dev \
           libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth \
           desktop-file-utils appstream dpkg-dev file

SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all deps configure build run test sanitize-test bench screenshots install deb package-test clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
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

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) qvar-scope_*.deb
