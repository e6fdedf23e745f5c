# 200,000 dict inserts and lookups with string keys.
def main():
    d = {}
    for i in range(1, 200001):
        d["key" + str(i)] = i
    total = 0
    for i in range(1, 200001):
        total = total + d["key" + str(i)]
    print(len(d), total)


main()
