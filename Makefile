# The commands of the README: `make demo`, `make test`, `make dist`.
.PHONY: test demo build dist format clean

test:
	bash tools/run-tests.sh

demo:
	bash tools/demo.sh

build:
	bash tools/setup.sh
	cmake --preset native && cmake --build --preset native -j$$(nproc)
	cmake --preset windows && cmake --build --preset windows -j$$(nproc)

# Release archives in build/dist/ (tools/dist.sh says which).
dist: build
	bash tools/dist.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
