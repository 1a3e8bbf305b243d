# Entry points for a fresh Debian machine (run as root or with sudo available).
#   make run    install what is missing, build the release preset, start the window in run/
#   make test   install what is missing, build the test preset (sanitizers) and the web
#               page, and run CTest (the browser tests among them)
#   make bench  install what is missing, build and run the benchmarks
#   make fuzz   install what is missing, build the fuzz targets (Clang, libFuzzer) and
#               run each for FUZZ_SECONDS seconds
#   make install  install what is missing, build the release preset and install the
#               programs, manual pages, demonstration recordings and documents under PREFIX
#   make web    install what is missing, build the web page (Emscripten) into build/web/site
#   make serve-web  build the web page and serve it on http://localhost:WEB_PORT/
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
WEB_PORT ?= 8080
# Emscripten's JavaScript optimiser runs on the machine's Node.js and needs
# Debian's Node.js modules (acorn).
WEB_ENV = NODE_PATH=/usr/share/nodejs

.PHONY: run test bench fuzz install setup build-release build-test build-bench build-fuzz web serve-web clean

setup:
	@bash scripts/setup.sh

build-release: setup
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

install: build-release
	cmake --install build/release --prefix $(PREFIX)

run: build-release
	@mkdir -p run
	cd run && ../build/release/front/qt/tarvik2-emu

build-test: setup
	cmake --preset test
	cmake --build --preset test -j $(JOBS)

# The browser tests (tests/web) run the site that `make web` builds.
test: build-test web
	ctest --preset test -j $(JOBS)

build-bench: setup
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)

bench: build-bench
	./build/bench/bench/tarvik2-bench

build-fuzz:
	@bash scripts/setup.sh fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

fuzz: build-fuzz
	bash tests/fuzz/run_fuzz.sh build/fuzz/tests/fuzz $(FUZZ_SECONDS)

web:
	@bash scripts/setup.sh web
	$(WEB_ENV) cmake --preset web
	$(WEB_ENV) cmake --build --preset web -j $(JOBS)

serve-web: web
	@echo "The Tarvik-2 web page: http://localhost:$(WEB_PORT)/ (Ctrl+C stops the server)"
	python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory build/web/site

clean:
	rm -rf build
