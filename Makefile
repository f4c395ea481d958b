# make demo: build the deliverables and show them working.
# make test: build everything and run every test.
# Both install what is missing first (Debian 12, as root).

PRESETS_HOST := host host-asan host-tsan
DIST := dist

.PHONY: all demo test bootstrap build build-host build-win32 test-host test-sanitizers test-win32 clean

all: build

bootstrap:
	@tools/bootstrap.sh

build-host: bootstrap
	cmake --preset host >/dev/null
	cmake --build --preset host

build-win32: bootstrap
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	mkdir -p $(DIST)/win32
	cp build/win32/bin/Voxcap.dll build/win32/bin/Deskcap.dll $(DIST)/win32/

build: build-host build-win32

test-host: build-host
	ctest --preset host

test-sanitizers: bootstrap
	for p in host-asan host-tsan; do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p && ctest --preset $$p || exit 1; \
	done

test-win32: build-win32
	ctest --preset win32

test: test-host test-win32 test-sanitizers

demo: build

clean:
	rm -rf build $(DIST) out
