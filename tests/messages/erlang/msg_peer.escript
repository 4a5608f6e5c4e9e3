#!/usr/bin/env escript
%% Erlang/OTP side of the message cross-check. DIR holds the message modules
%% compiled with "erlc -bper +maps".
%%
%%   msg_peer.escript DIR MODULE random COUNT SEED TYPE [GENMODULE]
%%     Prints COUNT lines, each the hex encoding of a random value of
%%     MODULE.TYPE ("-" for no octets); SEED fixes the sequence. With
%%     GENMODULE the values are made from that module's TYPE (a root-only
%%     variant of MODULE) and encoded with MODULE.
%%
%%   msg_peer.escript DIR MODULE recode TYPE FILE
%%     FILE holds one hex encoding per line. Each is decoded as TYPE and the
%%     decoded value encoded again; prints "ok Hex" with Erlang's encoding, or
%%     "bad <reason>", one line per input line.
-mode(compile).

main([Dir, Mod, "random", Count, Seed, Type]) ->
    main([Dir, Mod, "random", Count, Seed, Type, Mod]);
main([Dir, Mod, "random", Count, Seed, Type, Gen]) ->
    true = code:add_patha(Dir),
    ok = file:set_cwd(Dir),
    M = list_to_atom(Mod),
    G = list_to_atom(Gen),
    T = list_to_atom(Type),
    _ = rand:seed(exsss, {list_to_integer(Seed), 11, 2027}),
    lists:foreach(fun(_) -> random(G, M, T) end, lists:seq(1, list_to_integer(Count)));
main([Dir, Mod, "recode", Type, File]) ->
    true = code:add_patha(Dir),
    M = list_to_atom(Mod),
    T = list_to_atom(Type),
    {ok, Text} = file:read_file(File),
    Lines = [L || L <- binary:split(Text, <<"\n">>, [global]), L =/= <<>>],
    lists:foreach(fun(L) -> io:format("~s~n", [recode(M, T, L)]) end, Lines);
main(_) ->
    io:format(standard_error, "usage: msg_peer.escript DIR MODULE random COUNT SEED TYPE | "
              "DIR MODULE recode TYPE FILE~n", []),
    halt(2).

random(G, M, T) ->
    {ok, V} = asn1ct:value(G, T),
    case catch M:encode(T, V) of
        {ok, B} -> io:format("~s~n", [hex(B)]);
        Err -> io:format("bad encode ~0p of ~0p~n", [Err, V])
    end.

recode(M, T, Hex) ->
    case catch M:decode(T, unhex(Hex)) of
        {ok, V} ->
            case catch M:encode(T, V) of
                {ok, B} -> "ok " ++ hex(B);
                E -> io_lib:format("bad encode ~0p", [E])
            end;
        E -> io_lib:format("bad decode ~0p", [E])
    end.

unhex(<<"-">>) -> <<>>;
unhex(H) -> binary:decode_hex(H).

hex(<<>>) -> "-";
hex(B) -> string:lowercase(binary_to_list(binary:encode_hex(B))).
