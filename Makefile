# make demo: build the deliverables and show them working.
# make test: build everything and run every test.
# Both install what is missing first (Debian 12, as root).

DIST := dist

.PHONY: all demo test bench bootstrap build build-host build-linux build-win32 jar test-host test-linux test-sanitizers \
        test-win32 test-java test-fuzz test-valgrind clean

all: build

bootstrap:
	@tools/bootstrap.sh

build-host: bootstrap
	cmake --preset host >/dev/null
	cmake --build --preset host

build-linux: bootstrap
	cmake --preset linux >/dev/null
	cmake --build --preset linux

build-win32: bootstrap
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	mkdir -p $(DIST)/win32
	cp build/win32/bin/Voxcap.dll build/win32/bin/Deskcap.dll build/win32/bin/capture-demo.exe $(DIST)/win32/

build: build-host build-linux build-win32

test-host: build-host
	ctest --preset host

# The real backend records from the test environment's microphone, also under ASan + UBSan.
test-linux: build-linux
	tests/env/devices.sh --tone 7 -- ctest --preset linux
	cmake --preset linux-asan >/dev/null && cmake --build --preset linux-asan
	tests/env/devices.sh --tone 7 -- ctest --preset linux-asan

test-sanitizers: bootstrap
	for p in host-asan host-tsan; do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p && ctest --preset $$p || exit 1; \
	done

# The Wine suite runs on its own so that its report shows.
test-win32: build-win32
	ctest --preset win32 -E '^wine$$'
	tests/wine/run.sh build/win32/bin

jar: build
	java/build-jar.sh build/linux build/win32 $(DIST)/orvanta-natives.jar

test-java: jar
	java/run-tests.sh build/host $(DIST)/orvanta-natives.jar
	tests/env/devices.sh --no-sound -- java/run-screen-test.sh build/linux

# A bounded fuzz run; `tests/fuzz/run.sh build/host-fuzz 600` runs longer on demand.
test-fuzz: bootstrap
	cmake --preset host-fuzz >/dev/null
	cmake --build --preset host-fuzz
	ctest --preset host-fuzz -R fuzz_replay
	tests/fuzz/run.sh build/host-fuzz 15

test-valgrind: build-host
	tools/valgrind.sh build/host

test: test-host test-linux test-win32 test-sanitizers test-fuzz test-valgrind test-java

bench: build
	bench/run.sh build/host build/win32 build/win64

demo: jar
	tools/demo.sh $(DIST)/win32
	java/run-demo.sh build/linux out/demo/java

clean:
	rm -rf build $(DIST) out
