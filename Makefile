# make demo: build the deliverables and show them working.
# make test: build everything and run every test.
# Both install what is missing first (Debian 12, as root).

DIST := dist

.PHONY: all demo test bench bootstrap build build-host build-linux build-linux-aarch64 build-win32 build-win64 build-win-arm64 mingw-arm64 jar test-host \
        test-linux test-linux-aarch64 test-sanitizers test-win32 test-win64 test-win-arm64 test-java test-fuzz test-valgrind clean

all: build

bootstrap:
	@tools/bootstrap.sh

build-host: bootstrap
	cmake --preset host >/dev/null
	cmake --build --preset host

build-linux build-linux-aarch64: build-%: bootstrap
	cmake --preset $* >/dev/null
	cmake --build --preset $*

# The Windows DLLs, for 32-bit (x86), 64-bit (x86-64) and ARM64 Java VMs, and the demo program.
build-win32 build-win64 build-win-arm64: build-%: bootstrap
	cmake --preset $* >/dev/null
	cmake --build --preset $*
	mkdir -p $(DIST)/$*
	cp build/$*/bin/Voxcap.dll build/$*/bin/Deskcap.dll build/$*/bin/capture-demo.exe $(DIST)/$*/

# Windows on ARM64 builds with clang and lld, against a C runtime made once from Debian's sources.
build-win-arm64: mingw-arm64
mingw-arm64: bootstrap
	tools/mingw-arm64/build.sh

build: build-host build-linux build-linux-aarch64 build-win32 build-win64 build-win-arm64

test-host: build-host
	ctest --preset host

# The real backend records from the test environment's microphone, also under ASan + UBSan; its
# audio tests run again with the microphone on PipeWire (pipewire-pulse), its screen tests again
# on a Wayland desktop (the desktop portal's ScreenCast).
test-linux: build-linux
	tests/env/devices.sh --tone 7 -- ctest --preset linux
	tests/env/devices.sh --tone 7 --pipewire -- ctest --preset linux -L audio
	tests/linux/screen/wayland_suite.sh build/linux
	cmake --preset linux-asan >/dev/null && cmake --build --preset linux-asan
	tests/env/devices.sh --tone 7 -- ctest --preset linux-asan
	tests/env/devices.sh --tone 7 --pipewire -- ctest --preset linux-asan -L audio
	tests/linux/screen/wayland_suite.sh build/linux-asan

# The arm64 build is checked by its files here; its JVM tests run emulated (test-java).
test-linux-aarch64: build-linux-aarch64
	ctest --preset linux-aarch64

test-sanitizers: bootstrap
	for p in host-asan host-tsan; do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p && ctest --preset $$p || exit 1; \
	done

# The Wine suite runs on its own so that its report shows; one Wine prefix runs both x86 builds,
# arm64 Wine (emulated) one of its own.
machine_win32 := x86
machine_win64 := x86-64
machine_win-arm64 := arm64
test-win32 test-win64 test-win-arm64: test-%: build-%
	ctest --preset $* -E '^wine$$'
	tests/wine/run.sh build/$*/bin $(machine_$*)

# The client jar is the Maven project's (java/pom.xml): the classes, their module descriptor and
# the natives of every platform. It goes with its pom, sources, javadoc and checksums into
# $(DIST)/maven, laid out as a Maven repository, and as $(DIST)/orvanta-natives.jar.
VERSION := $(shell sed -n '/<artifactId>orvanta-natives</{n;s|.*<version>\(.*\)</version>.*|\1|p;q}' java/pom.xml)
jar: build
	java/stage-natives.sh build/linux build/linux-aarch64 build/win32 build/win64 build/win-arm64 build/natives
	java/mvn.sh -q -f java/pom.xml -DskipTests deploy -DaltDeploymentRepository=dist::file://$(abspath $(DIST))/maven
	for part in "" -sources -javadoc; do cp build/java/orvanta-natives-$(VERSION)$$part.jar $(DIST)/orvanta-natives$$part.jar; done
	@echo "jar: $(DIST)/orvanta-natives.jar, com.velk.orvanta:orvanta-natives:$(VERSION) in $(DIST)/maven"

# The unit tests through Maven (the simulated machine); then the jar in real environments, on
# every JDK a Debian release packages; then projects that use it by its coordinates, its module
# and a jlink image of it.
test-java: jar
	java/mvn.sh -f java/pom.xml test
	java/run-tests.sh build/java/test-classes $(DIST)/orvanta-natives.jar
	tests/env/devices.sh --no-sound -- java/run-screen-test.sh build/linux
	tests/env/devices.sh --no-sound --screen 1280x720x24 --wayland '#ff8000' -- java/run-screen-test.sh --wayland build/linux || [ $$? = 77 ]
	java/consumer/run.sh $(DIST)/maven $(VERSION)

# A bounded fuzz run; `tests/fuzz/run.sh build/host-fuzz 600` runs longer on demand.
test-fuzz: bootstrap
	cmake --preset host-fuzz >/dev/null
	cmake --build --preset host-fuzz
	ctest --preset host-fuzz -R fuzz_replay
	tests/fuzz/run.sh build/host-fuzz 15

test-valgrind: build-host
	tools/valgrind.sh build/host

test: test-host test-linux test-linux-aarch64 test-win32 test-win64 test-win-arm64 test-sanitizers test-fuzz test-valgrind test-java

bench: build
	bench/run.sh build/host build/win32 build/win64 build/win-arm64

demo: jar
	tools/demo.sh $(DIST)/win32
	tools/demo.sh $(DIST)/win64
	tools/demo.sh $(DIST)/win-arm64
	java/run-demo.sh build/linux out/demo/java

clean:
	rm -rf build $(DIST) out
