# 100,000 string concatenations in a loop (inside a function: CPython only
# appends in place to local variables).
def main():
    s = ""
    for i in range(1, 100001):
        s += "x" + str(i)
    print(len(s))


main()
