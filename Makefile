# Entry points for a fresh Debian machine (run as root or with sudo available).
#   make run    install what is missing, build the release preset, start the window in run/
#   make test   install what is missing, build the test preset (sanitizers) and run CTest
#   make bench  install what is missing, build and run the benchmarks
JOBS ?= $(shell nproc)

.PHONY: run test bench setup build-release build-test build-bench clean

setup:
	@bash scripts/setup.sh

build-release: setup
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

run: build-release
	@mkdir -p run
	cd run && ../build/release/host/qt/tarvik2-emu

build-test: setup
	cmake --preset test
	cmake --build --preset test -j $(JOBS)

test: build-test
	ctest --preset test -j $(JOBS)

build-bench: setup
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)

bench: build-bench
	./build/bench/bench/tarvik2-bench

clean:
	rm -rf build
