# 1,000,000 calls of a one-line function.
def add_one(x):
    return x + 1


def main():
    r = 0
    for i in range(1, 1000001):
        r = add_one(r)
    print(r)


main()
