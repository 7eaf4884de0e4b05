# The two commands of the README: `make demo` and `make test`.
.PHONY: test demo build format clean

test:
	bash tools/run-tests.sh

demo:
	bash tools/demo.sh

build:
	bash tools/setup.sh
	cmake --preset native && cmake --build --preset native -j$$(nproc)
	cmake --preset windows && cmake --build --preset windows -j$$(nproc)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
