int main()
{
    return 1;  // not built yet
}
